#include "xml_reader.h"

#include <cctype>

namespace {

class Reader {
public:
    explicit Reader(const std::string &doc) : s_(doc) {}

    XmlElement document()
    {
        if (s_.compare(0, 5, "<?xml") == 0) skipPast("?>");
        skipMisc();
        XmlElement root = element();
        skipMisc();
        if (pos_ != s_.size()) fail("content after the root element");
        return root;
    }

private:
    [[noreturn]] void fail(const std::string &what) const
    {
        throw std::runtime_error("XML: " + what + " at byte " + std::to_string(pos_));
    }
    bool at(const char *t) const { return s_.compare(pos_, std::char_traits<char>::length(t), t) == 0; }
    void skipPast(const char *t)
    {
        const auto end = s_.find(t, pos_);
        if (end == std::string::npos) fail(std::string("missing ") + t);
        pos_ = end + std::char_traits<char>::length(t);
    }
    void skipSpace()
    {
        while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    }
    void skipMisc()
    {
        for (skipSpace(); at("<!--"); skipSpace()) skipPast("-->");
    }
    static bool nameChar(char c, bool first)
    {
        return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == ':' ||
               (!first && (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.'));
    }
    std::string name()
    {
        const std::size_t start = pos_;
        while (pos_ < s_.size() && nameChar(s_[pos_], pos_ == start)) ++pos_;
        if (pos_ == start) fail("expected a name");
        return s_.substr(start, pos_ - start);
    }
    std::string decode(const std::string &raw)
    {
        std::string out;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '<') fail("unescaped '<'");
            if (raw[i] != '&') {
                out += raw[i];
                continue;
            }
            const auto semi = raw.find(';', i);
            if (semi == std::string::npos) fail("unterminated entity");
            const std::string ent = raw.substr(i + 1, semi - i - 1);
            static const std::map<std::string, std::string> named = {
                {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}};
            if (auto it = named.find(ent); it != named.end()) out += it->second;
            else if (ent.size() > 1 && ent[0] == '#') out += '?';  // numeric: value not needed
            else fail("unknown entity &" + ent + ";");
            i = semi;
        }
        return out;
    }
    XmlElement element()
    {
        if (!at("<")) fail("expected '<'");
        ++pos_;
        XmlElement e;
        e.name = name();
        for (;;) {
            skipSpace();
            if (at("/>")) {
                pos_ += 2;
                return e;
            }
            if (at(">")) {
                ++pos_;
                break;
            }
            const std::string key = name();
            skipSpace();
            if (!at("=")) fail("expected '=' after " + key);
            ++pos_;
            skipSpace();
            const char quote = pos_ < s_.size() ? s_[pos_] : '\0';
            if (quote != '"' && quote != '\'') fail("unquoted value of " + key);
            const auto end = s_.find(quote, ++pos_);
            if (end == std::string::npos) fail("unterminated value of " + key);
            if (!e.attributes.emplace(key, decode(s_.substr(pos_, end - pos_))).second)
                fail("attribute " + key + " given twice");
            pos_ = end + 1;
        }
        for (;;) {
            if (pos_ >= s_.size()) fail("<" + e.name + "> is never closed");
            if (at("</")) {
                pos_ += 2;
                if (name() != e.name) fail("mismatched closing tag for <" + e.name + ">");
                skipSpace();
                if (!at(">")) fail("expected '>'");
                ++pos_;
                return e;
            }
            if (at("<!--")) skipPast("-->");
            else if (at("<")) e.children.push_back(element());
            else {
                const auto next = s_.find('<', pos_);
                e.text += decode(s_.substr(pos_, next - pos_));
                pos_ = next == std::string::npos ? s_.size() : next;
            }
        }
    }

    const std::string &s_;
    std::size_t pos_ = 0;
};

}  // namespace

XmlElement parseXml(const std::string &document) { return Reader(document).document(); }

const XmlElement *XmlElement::findById(const std::string &id) const
{
    if (auto it = attributes.find("id"); it != attributes.end() && it->second == id) return this;
    for (const auto &c : children)
        if (const XmlElement *found = c.findById(id)) return found;
    return nullptr;
}

void XmlElement::collect(const std::string &elementName, std::vector<const XmlElement *> &out) const
{
    if (name == elementName) out.push_back(this);
    for (const auto &c : children) c.collect(elementName, out);
}
