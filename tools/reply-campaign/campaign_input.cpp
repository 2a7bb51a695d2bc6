#include "tools/reply-campaign/campaign_input.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr const char* kReaderNames[kReaderCount] = {
    "hand", "config-get", "config-change", "config-method", "isee", "itake", "cancel", "ineed", "creg",
};

}  // namespace

const char* ReaderName(Reader reader) { return kReaderNames[static_cast<int>(reader)]; }

bool ReaderOfFile(const std::string& fileName, Reader* reader) {
    const std::size_t slash = fileName.find_last_of("/\\");
    const std::string base = slash == std::string::npos ? fileName : fileName.substr(slash + 1);
    const std::string prefix = base.substr(0, base.find('.'));
    for (int index = 0; index < kReaderCount; ++index) {
        if (prefix == kReaderNames[index]) {
            *reader = static_cast<Reader>(index);
            return true;
        }
    }
    return false;
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes->clear();
    char buffer[65536];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof(buffer), file)) > 0;) bytes->append(buffer, read);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

std::vector<Seed> LoadSeeds(const std::string& folder) {
    std::vector<Seed> seeds;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return seeds;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        Seed seed;
        seed.name = found.cFileName;
        if (!ReaderOfFile(seed.name, &seed.reader)) continue;
        if (ReadWholeFile(folder + "\\" + seed.name, &seed.bytes)) seeds.push_back(std::move(seed));
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(seeds.begin(), seeds.end(), [](const Seed& a, const Seed& b) { return a.name < b.name; });
    return seeds;
}
