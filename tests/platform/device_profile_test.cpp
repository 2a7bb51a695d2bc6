#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

#include "platform/device_profile.h"

namespace {

constexpr char kProfile[] = R"(<?xml version="1.0" encoding="UTF-8" ?>
<Device>
    <Radio mode="silent" modem="127.0.0.1:7020"/>
    <Port name="COM2:" modem="127.0.0.1:7020"/>
    <Port name="COM9:" modem="127.0.0.1:7021"/>
    <Handset manufacturer="Demo" model="PPC-2003" revision="4.21.1088" serial="354500001234567"
             subscriber="+79161234567" operator="25001"/>
</Device>)";

TEST(DeviceProfile, ReadsRadioPortsAndHandset) {
    DeviceProfile profile;
    ASSERT_TRUE(ParseDeviceProfile(kProfile, &profile));
    EXPECT_EQ(RadioMode::Silent, profile.radioMode);
    EXPECT_EQ("127.0.0.1:7020", profile.radioModem);
    ASSERT_EQ(2u, profile.ports.size());
    EXPECT_EQ("127.0.0.1:7020", profile.ports.at(L"COM2:"));
    EXPECT_EQ("127.0.0.1:7021", profile.ports.at(L"COM9:"));
    EXPECT_EQ(L"Demo", profile.handset.manufacturer);
    EXPECT_EQ(L"PPC-2003", profile.handset.model);
    EXPECT_EQ(L"4.21.1088", profile.handset.revision);
    EXPECT_EQ(L"354500001234567", profile.handset.serialNumber);
    EXPECT_EQ(L"+79161234567", profile.handset.subscriberNumber);
    EXPECT_EQ(L"25001", profile.handset.operatorCode);
}

TEST(DeviceProfile, RadioModes) {
    DeviceProfile profile;
    ASSERT_TRUE(ParseDeviceProfile("<Device><Radio mode=\"modem\" modem=\"h:1\"/></Device>", &profile));
    EXPECT_EQ(RadioMode::Modem, profile.radioMode);
    ASSERT_TRUE(ParseDeviceProfile("<Device><Radio mode=\"none\"/></Device>", &profile));
    EXPECT_EQ(RadioMode::None, profile.radioMode);
    ASSERT_TRUE(ParseDeviceProfile("<Device/>", &profile));
    EXPECT_EQ(RadioMode::None, profile.radioMode) << "no Radio element: no radio layer";
    EXPECT_TRUE(profile.ports.empty());
}

TEST(DeviceProfile, MalformedTextGivesAnEmptyProfile) {
    DeviceProfile profile;
    ASSERT_TRUE(ParseDeviceProfile(kProfile, &profile));
    EXPECT_FALSE(ParseDeviceProfile("<Device><Radio mode=\"modem\"", &profile));
    EXPECT_EQ(RadioMode::None, profile.radioMode);
    EXPECT_TRUE(profile.ports.empty());
    EXPECT_TRUE(profile.handset.model.empty());
    EXPECT_FALSE(ParseDeviceProfile("<Phone/>", &profile));
    // Nested beyond what the parser's stack takes: refused before parsing, not a crash.
    std::string deep = "<Device><Radio mode=\"modem\" modem=\"h:1\"/>";
    for (int level = 0; level < 10000; ++level) deep += "<Port>";
    EXPECT_FALSE(ParseDeviceProfile(deep, &profile));
    EXPECT_EQ(RadioMode::None, profile.radioMode);
}

TEST(DeviceProfile, LoadsFromAFileAndTreatsAMissingOneAsNoHardware) {
    char temporary[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temporary);
    const std::string path = std::string(temporary) + "pelmora-device-" + std::to_string(GetCurrentProcessId()) + ".xml";
    {
        std::ofstream file(path, std::ios::binary);
        file << kProfile;
    }
    ASSERT_TRUE(LoadDeviceProfile(path));
    EXPECT_EQ(RadioMode::Silent, GetDeviceProfile().radioMode);
    EXPECT_EQ(2u, GetDeviceProfile().ports.size());
    const unsigned generation = GetDeviceProfile().generation;
    DeleteFileA(path.c_str());

    EXPECT_TRUE(LoadDeviceProfile(path));
    EXPECT_EQ(generation + 1, GetDeviceProfile().generation) << "every load is another phone";
    EXPECT_EQ(RadioMode::None, GetDeviceProfile().radioMode);
    EXPECT_TRUE(GetDeviceProfile().ports.empty());
    EXPECT_TRUE(GetDeviceProfile().handset.operatorCode.empty());
}

TEST(DeviceProfile, SplitsEndpoints) {
    std::string host;
    unsigned short port = 0;
    ASSERT_TRUE(SplitEndpoint("127.0.0.1:7020", &host, &port));
    EXPECT_EQ("127.0.0.1", host);
    EXPECT_EQ(7020, port);
    for (const char* bad : {"127.0.0.1", ":7020", "host:", "host:0", "host:65536", "host:70x", "host:123456"}) {
        EXPECT_FALSE(SplitEndpoint(bad, &host, &port)) << bad;
    }
}

}  // namespace
