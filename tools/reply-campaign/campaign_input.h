// What the campaign feeds the program: bytes and the reader of the program that takes them.
#pragma once

#include <string>
#include <vector>

enum class Reader {
    Handshake,
    ConfigurationGet,
    ConfigurationChange,
    MethodReport,
    LocationReport,
    PlaceMark,
    Cancel,
    Groups,
    ModemReply,
};
inline constexpr int kReaderCount = 9;

// The file-name prefix of a reader ("hand", "config-get", ... "creg"; see seeds/README).
const char* ReaderName(Reader reader);
// The reader a file is for, from the part of its name before the first '.'; false for none.
bool ReaderOfFile(const std::string& fileName, Reader* reader);

struct CampaignInput {
    Reader reader = Reader::Handshake;
    std::string bytes;
    std::string origin;  // the seed and the mutations that made it
};

struct Seed {
    std::string name;  // the file name
    Reader reader;
    std::string bytes;
};

// The seeds in `folder` whose names name a reader, in name order; empty when there are none.
std::vector<Seed> LoadSeeds(const std::string& folder);
// The whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* bytes);
// Writes `bytes` to `path`; false on failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
