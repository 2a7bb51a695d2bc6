// The radio layer of the desktop device layer: the modes of the device profile, answers on a radio
// thread through the result callback, and the modem asked as a radio driver asks it.
#include <gtest/gtest.h>

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "phonesim_process.h"
#include "platform/durations.h"
#include "platform/ril.h"

namespace {

struct Answer {
    DWORD code;
    HRESULT command;
    std::vector<BYTE> data;
    DWORD parameter;
    DWORD thread;
};

struct Answers {
    std::mutex lock;
    std::vector<Answer> received;
    HANDLE arrived = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

Answers& Received() {
    static Answers answers;
    return answers;
}

void CALLBACK RecordAnswer(DWORD code, HRESULT command, const void* data, DWORD size, DWORD parameter) {
    Answers& answers = Received();
    {
        std::lock_guard<std::mutex> lock(answers.lock);
        const BYTE* bytes = static_cast<const BYTE*>(data);
        answers.received.push_back({code, command, std::vector<BYTE>(bytes, bytes + size), parameter, GetCurrentThreadId()});
    }
    SetEvent(answers.arrived);
}

std::size_t AnswerCount() {
    std::lock_guard<std::mutex> lock(Received().lock);
    return Received().received.size();
}

Answer LastAnswer() {
    std::lock_guard<std::mutex> lock(Received().lock);
    return Received().received.back();
}

RILCELLTOWERINFO Record(const Answer& answer) {
    RILCELLTOWERINFO record = {};
    EXPECT_EQ(sizeof(record), answer.data.size());
    if (answer.data.size() == sizeof(record)) memcpy(&record, answer.data.data(), sizeof(record));
    return record;
}

class RadioLayer : public ::testing::Test {
protected:
    void SetUp() override {
        GetDurations().modemWaitMs = 500;
        std::lock_guard<std::mutex> lock(Received().lock);
        Received().received.clear();
        ResetEvent(Received().arrived);
    }
    void TearDown() override {
        GetDurations() = Durations();
        UseDeviceProfile("<Device/>");
    }

    void UseRadio(const std::string& mode, const std::string& modem = "") {
        ASSERT_TRUE(UseDeviceProfile(DeviceProfileText(mode, modem, {})));
    }

    static bool WaitForAnswer(DWORD milliseconds = 5000) {
        return WaitForSingleObject(Received().arrived, milliseconds) == WAIT_OBJECT_0;
    }
};

TEST_F(RadioLayer, WithoutARadioInitialisationFails) {
    UseRadio("none");
    HRIL radio = reinterpret_cast<HRIL>(0x1234);
    EXPECT_NE(S_OK, RIL_Initialize(1, RecordAnswer, nullptr, 0, 0, &radio));
    EXPECT_EQ(reinterpret_cast<HRIL>(0x1234), radio);
    ASSERT_TRUE(UseDeviceProfile("<Device/>"));
    EXPECT_NE(S_OK, RIL_Initialize(1, RecordAnswer, nullptr, 0, 0, &radio)) << "no device.xml: no radio";
}

TEST_F(RadioLayer, RefusesBadArgumentsAndUnknownHandles) {
    UseRadio("silent");
    HRIL radio = nullptr;
    EXPECT_EQ(E_INVALIDARG, RIL_Initialize(1, RecordAnswer, nullptr, 0, 0, nullptr));
    EXPECT_EQ(E_INVALIDARG, RIL_Initialize(1, nullptr, nullptr, 0, 0, &radio));
    EXPECT_EQ(E_INVALIDARG, RIL_Initialize(2, RecordAnswer, nullptr, 0, 0, &radio));
    EXPECT_TRUE(FAILED(RIL_GetCellTowerInfo(nullptr)));
    EXPECT_TRUE(FAILED(RIL_Deinitialize(reinterpret_cast<HRIL>(0x4321))));

    ASSERT_EQ(S_OK, RIL_Initialize(1, RecordAnswer, nullptr, 0, 0, &radio));
    EXPECT_EQ(S_OK, RIL_Deinitialize(radio));
    EXPECT_TRUE(FAILED(RIL_GetCellTowerInfo(radio))) << "a closed handle";
    EXPECT_TRUE(FAILED(RIL_Deinitialize(radio)));
}

TEST_F(RadioLayer, AsksTheModemAndAnswersOnItsOwnThread) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--cell", "00C1,1A2B3C4D"}));
    UseRadio("modem", modem.Endpoint());
    HRIL radio = nullptr;
    ASSERT_EQ(S_OK, RIL_Initialize(1, RecordAnswer, nullptr, 0, 77, &radio));

    const HRESULT first = RIL_GetCellTowerInfo(radio);
    ASSERT_GT(first, 0) << "a command identifier";
    ASSERT_TRUE(WaitForAnswer());
    Answer answer = LastAnswer();
    EXPECT_EQ(RIL_RESULT_OK, answer.code);
    EXPECT_EQ(first, answer.command);
    EXPECT_EQ(77u, answer.parameter);
    EXPECT_NE(GetCurrentThreadId(), answer.thread) << "the radio's own thread";
    RILCELLTOWERINFO record = Record(answer);
    EXPECT_EQ(0xC1u, record.dwLocationAreaCode);
    EXPECT_EQ(0x1A2B3C4Du, record.dwCellID) << "the layer hands over the whole cell identity";
    EXPECT_EQ(RIL_PARAM_CTI_LOCATIONAREACODE | RIL_PARAM_CTI_CELLID,
              record.dwParams & (RIL_PARAM_CTI_LOCATIONAREACODE | RIL_PARAM_CTI_CELLID));

    const HRESULT second = RIL_GetCellTowerInfo(radio);
    EXPECT_NE(first, second);
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(second, LastAnswer().command);
    EXPECT_EQ(S_OK, RIL_Deinitialize(radio));
    EXPECT_EQ("AT+CREG=2\rAT+CREG?\rAT+CREG?\r", modem.ReceivedBytes())
        << "result mode 2 once per connection, then one query per request";
}

TEST_F(RadioLayer, AModemWithoutACellGivesAnErrorResult) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--no-creg"}));
    UseRadio("modem", modem.Endpoint());
    HRIL radio = nullptr;
    ASSERT_EQ(S_OK, RIL_Initialize(1, RecordAnswer, nullptr, 0, 0, &radio));
    const HRESULT command = RIL_GetCellTowerInfo(radio);
    ASSERT_TRUE(WaitForAnswer());
    const Answer answer = LastAnswer();
    EXPECT_EQ(RIL_RESULT_ERROR, answer.code);
    EXPECT_EQ(command, answer.command);
    ASSERT_EQ(sizeof(HRESULT), answer.data.size());
    HRESULT failure = S_OK;
    memcpy(&failure, answer.data.data(), sizeof(failure));
    EXPECT_TRUE(FAILED(failure));
    EXPECT_EQ(S_OK, RIL_Deinitialize(radio));
}

TEST_F(RadioLayer, AModemThatResetsLosesTheCommandInFlightAndTheNextIsAnswered) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--hang-up-at-query", "2", "--cell", "00C1,FFFF"}));
    UseRadio("modem", modem.Endpoint());
    HRIL radio = nullptr;
    ASSERT_EQ(S_OK, RIL_Initialize(1, RecordAnswer, nullptr, 0, 0, &radio));
    const HRESULT first = RIL_GetCellTowerInfo(radio);
    ASSERT_TRUE(WaitForAnswer());
    EXPECT_EQ(first, LastAnswer().command);

    ASSERT_GT(RIL_GetCellTowerInfo(radio), 0);
    EXPECT_FALSE(WaitForAnswer(2 * GetDurations().modemWaitMs)) << "the modem hung up instead of answering";

    const HRESULT third = RIL_GetCellTowerInfo(radio);
    ASSERT_TRUE(WaitForAnswer());
    const Answer answer = LastAnswer();
    EXPECT_EQ(third, answer.command);
    EXPECT_EQ(RIL_RESULT_OK, answer.code);
    EXPECT_EQ(0xFFFFu, Record(answer).dwCellID);
    EXPECT_EQ(2u, AnswerCount()) << "no result at all for the lost command";
    EXPECT_EQ(S_OK, RIL_Deinitialize(radio));
    EXPECT_EQ("AT+CREG=2\rAT+CREG?\rAT+CREG?\rAT+CREG=2\rAT+CREG?\r", modem.ReceivedBytes())
        << "the next command connects again";
}

TEST_F(RadioLayer, ASilentRadioTakesCommandsAndNeverAnswers) {
    UseRadio("silent");
    HRIL radio = nullptr;
    ASSERT_EQ(S_OK, RIL_Initialize(1, RecordAnswer, nullptr, 0, 0, &radio));
    EXPECT_GT(RIL_GetCellTowerInfo(radio), 0);
    EXPECT_FALSE(WaitForAnswer(300));
    EXPECT_EQ(S_OK, RIL_Deinitialize(radio));
    EXPECT_EQ(0u, AnswerCount());
}

TEST_F(RadioLayer, ClosingEndsPromptlyAndNoAnswerFollows) {
    GetDurations().modemWaitMs = 3000;
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--silent"}));
    UseRadio("modem", modem.Endpoint());
    HRIL radio = nullptr;
    ASSERT_EQ(S_OK, RIL_Initialize(1, RecordAnswer, nullptr, 0, 0, &radio));
    ASSERT_GT(RIL_GetCellTowerInfo(radio), 0);
    Sleep(200);  // the radio thread now waits for the silent modem
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(S_OK, RIL_Deinitialize(radio));
    EXPECT_LT(GetTickCount64() - start, 1000u) << "the wait for the modem is cut short";
    Sleep(300);
    EXPECT_EQ(0u, AnswerCount());
}

}  // namespace
