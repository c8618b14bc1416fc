// A strict reader for the XML subset an SVG file uses: declaration,
// comments, elements, attributes and text with the predefined and numeric
// entities. Anything malformed throws, so a successful read means the file
// is well-formed.
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

struct XmlElement {
    std::string name;
    std::map<std::string, std::string> attributes;
    std::vector<XmlElement> children;
    std::string text;

    // Depth-first search by id attribute; nullptr when absent.
    const XmlElement *findById(const std::string &id) const;
    void collect(const std::string &elementName, std::vector<const XmlElement *> &out) const;
};

XmlElement parseXml(const std::string &document);
