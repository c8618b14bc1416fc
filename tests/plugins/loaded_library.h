// A plugin binary opened the platform's way, for the hosts.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

namespace ptest {

class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::string &path)
    {
#if defined(_WIN32)
        handle_ = LoadLibraryA(path.c_str());
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~LoadedLibrary()
    {
        if (handle_ == nullptr)
            return;
#if defined(_WIN32)
        FreeLibrary(static_cast<HMODULE>(handle_));
#else
        dlclose(handle_);
#endif
    }
    LoadedLibrary(const LoadedLibrary &) = delete;
    LoadedLibrary &operator=(const LoadedLibrary &) = delete;

    bool ok() const { return handle_ != nullptr; }
    void *handle() const { return handle_; }
    void *symbol(const char *name) const
    {
        if (handle_ == nullptr)
            return nullptr;
#if defined(_WIN32)
        return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle_), name));
#else
        return dlsym(handle_, name);
#endif
    }

private:
    void *handle_ = nullptr;
};

} // namespace ptest
