#include <gtest/gtest.h>

#include "options.h"

namespace phonesim {
namespace {

TEST(Options, PortsCellAndSwitches) {
    Options options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"7020", "0", "--cell", "00C1,FFFF", "--garbage", "--log", "/tmp/bytes", "--ready-file",
                              "/tmp/ports", "--idle-exit", "2.5", "--unregistered-every", "3", "--hang-up-at-query", "4"},
                             &options, &error))
        << error;
    ASSERT_EQ(2u, options.ports.size());
    EXPECT_EQ(7020, options.ports[0]);
    EXPECT_EQ(0, options.ports[1]);
    ASSERT_EQ(1u, options.modem.route.size());
    EXPECT_EQ(0xC1u, options.modem.route[0].lac);
    EXPECT_EQ(0xFFFFu, options.modem.route[0].ci);
    EXPECT_EQ(Fault::Garbage, options.modem.fault);
    EXPECT_EQ("/tmp/bytes", options.logFile);
    EXPECT_EQ("/tmp/ports", options.readyFile);
    EXPECT_EQ(2.5, options.idleExitSeconds);
    EXPECT_EQ(3, options.modem.unregisteredEvery);
    EXPECT_EQ(4, options.modem.hangUpAtQuery);
    EXPECT_EQ("127.0.0.1", options.bindAddress);
}

TEST(Options, DefaultsToOneCell) {
    Options options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"7020"}, &options, &error));
    ASSERT_EQ(1u, options.modem.route.size());
    EXPECT_EQ(0x1A2Bu, options.modem.route[0].lac);
    EXPECT_EQ(0x3C4Du, options.modem.route[0].ci);
    EXPECT_EQ(Fault::None, options.modem.fault);
}

TEST(Options, RefusesWhatMakesNoSense) {
    Options options;
    std::string error;
    EXPECT_FALSE(ParseOptions({}, &options, &error));
    EXPECT_EQ("no port to listen on", error);
    EXPECT_FALSE(ParseOptions({"70200"}, &options, &error));
    EXPECT_FALSE(ParseOptions({"7020", "--silent", "--drop"}, &options, &error));
    EXPECT_EQ("only one fault at a time", error);
    EXPECT_FALSE(ParseOptions({"7020", "--route"}, &options, &error));
    EXPECT_EQ("--route needs a value", error);
    EXPECT_FALSE(ParseOptions({"7020", "--cell", "1A2B"}, &options, &error));
    EXPECT_FALSE(ParseOptions({"7020", "--unregistered-every", "0"}, &options, &error));
    EXPECT_FALSE(ParseOptions({"7020", "--hang-up-at-query", "1.5"}, &options, &error));
    EXPECT_EQ("--hang-up-at-query expects a whole number from 1", error);
    EXPECT_FALSE(ParseOptions({"7020", "--frobnicate", "1"}, &options, &error));
    EXPECT_EQ("unknown option --frobnicate", error);
}

TEST(Options, HelpNamesEverySwitch) {
    Options options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--help"}, &options, &error));
    EXPECT_TRUE(options.help);
    const std::string usage = Usage();
    for (const char* word : {"AT+CREG=2", "AT+CREG?", "--route", "--cell", "--silent", "--garbage", "--no-creg",
                             "--flood", "--drop", "--hang-up", "--unregistered-every", "--hang-up-at-query", "--bind", "--log",
                             "--ready-file", "--idle-exit", "--help"}) {
        EXPECT_NE(std::string::npos, usage.find(word)) << word;
    }
}

}  // namespace
}  // namespace phonesim
