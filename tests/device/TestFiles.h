#pragma once

#include <string>

// A fresh folder under the test temp directory, removed with everything in it at destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string path(const std::string& name) const { return folder + "/" + name; }
    int entryCount() const;
    const std::string folder;
};

void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);
