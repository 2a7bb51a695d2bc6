#include "platform/device_profile.h"

#include <windows.h>

#include <cstdlib>
#include <mutex>

#include <tinyxml.h>

#include "platform/xml_document.h"

namespace {

std::mutex& ProfileMutex() {
    static std::mutex mutex;
    return mutex;
}

DeviceProfile& StoredProfile() {
    static DeviceProfile profile;
    return profile;
}

bool& ProfileLoaded() {
    static bool loaded = false;
    return loaded;
}

std::wstring Utf8Attribute(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    if (value == nullptr || *value == '\0') return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, value, -1, nullptr, 0);
    if (length <= 1) return {};
    std::wstring result(static_cast<size_t>(length - 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, value, -1, result.data(), length);
    return result;
}

std::string TextAttribute(const TiXmlElement* element, const char* name) {
    const char* value = element->Attribute(name);
    return value != nullptr ? value : "";
}

std::string DefaultProfilePath() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string result(path, length);
    const size_t slash = result.find_last_of('\\');
    result = slash == std::string::npos ? std::string() : result.substr(0, slash + 1);
    return result + "device.xml";
}

}  // namespace

bool ParseDeviceProfile(const std::string& text, DeviceProfile* profile) {
    *profile = DeviceProfile();
    TiXmlDocument document;
    if (!ParseXmlText(text, TIXML_ENCODING_UTF8, &document) || document.Error()) return false;
    const TiXmlElement* root = document.FirstChildElement("Device");
    if (root == nullptr) return false;

    if (const TiXmlElement* radio = root->FirstChildElement("Radio")) {
        const std::string mode = TextAttribute(radio, "mode");
        if (mode == "modem") {
            profile->radioMode = RadioMode::Modem;
        } else if (mode == "silent") {
            profile->radioMode = RadioMode::Silent;
        }
        profile->radioModem = TextAttribute(radio, "modem");
    }
    for (const TiXmlElement* port = root->FirstChildElement("Port"); port != nullptr;
         port = port->NextSiblingElement("Port")) {
        const std::wstring name = Utf8Attribute(port, "name");
        if (!name.empty()) profile->ports[name] = TextAttribute(port, "modem");
    }
    if (const TiXmlElement* handset = root->FirstChildElement("Handset")) {
        profile->handset.manufacturer = Utf8Attribute(handset, "manufacturer");
        profile->handset.model = Utf8Attribute(handset, "model");
        profile->handset.revision = Utf8Attribute(handset, "revision");
        profile->handset.serialNumber = Utf8Attribute(handset, "serial");
        profile->handset.subscriberNumber = Utf8Attribute(handset, "subscriber");
        profile->handset.operatorCode = Utf8Attribute(handset, "operator");
    }
    return true;
}

bool LoadDeviceProfile(const std::string& path) {
    DeviceProfile profile;
    bool result = true;
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        std::string text;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            result = false;
        } else {
            char buffer[4096];
            DWORD read = 0;
            while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0 && text.size() < (1u << 20)) {
                text.append(buffer, read);
            }
            CloseHandle(file);
            result = ParseDeviceProfile(text, &profile);
        }
    }
    std::lock_guard<std::mutex> lock(ProfileMutex());
    profile.generation = StoredProfile().generation + 1;
    StoredProfile() = profile;
    ProfileLoaded() = true;
    return result;
}

const DeviceProfile& GetDeviceProfile() {
    {
        std::lock_guard<std::mutex> lock(ProfileMutex());
        if (ProfileLoaded()) return StoredProfile();
    }
    LoadDeviceProfile(DefaultProfilePath());
    return StoredProfile();
}

bool SplitEndpoint(const std::string& endpoint, std::string* host, unsigned short* port) {
    const size_t colon = endpoint.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= endpoint.size()) return false;
    const std::string digits = endpoint.substr(colon + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 5) return false;
    const long number = std::strtol(digits.c_str(), nullptr, 10);
    if (number < 1 || number > 65535) return false;
    *host = endpoint.substr(0, colon);
    *port = static_cast<unsigned short>(number);
    return true;
}
