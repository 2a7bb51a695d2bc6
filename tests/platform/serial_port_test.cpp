// The serial ports of the desktop device layer: ports named in the device profile reach the phone
// simulator's modem; the Win32 calls keep their arguments, results and error codes.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "phonesim_process.h"
#include "platform/durations.h"
#include "platform/serial_port.h"

namespace {

HANDLE OpenPort(const wchar_t* name) {
    return serial::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Write(HANDLE port, const std::string& bytes, DWORD* written) {
    return serial::WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), written, nullptr) != FALSE;
}

void SetReadTimeouts(HANDLE port, DWORD interval, DWORD multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts = {interval, multiplier, constant, 0, 1000};
    ASSERT_TRUE(serial::SetCommTimeouts(port, &timeouts));
}

// Reads until `expected` bytes arrived or the modem is quiet for a while.
std::string ReadReply(HANDLE port, std::size_t expected) {
    SetReadTimeouts(port, 0, 0, 300);
    std::string reply;
    char buffer[256];
    DWORD got = 0;
    while (reply.size() < expected &&
           serial::ReadFile(port, buffer, static_cast<DWORD>(sizeof(buffer)), &got, nullptr) && got > 0) {
        reply.append(buffer, got);
    }
    return reply;
}

DWORD Elapsed(ULONGLONG start) { return static_cast<DWORD>(GetTickCount64() - start); }

class SerialPorts : public ::testing::Test {
protected:
    void SetUp() override { GetDurations().modemWaitMs = 400; }
    void TearDown() override {
        GetDurations() = Durations();
        UseDeviceProfile("<Device/>");
    }

    // A simulator with the given switches behind "COM2:".
    void StartModem(const std::vector<std::string>& switches = {}) {
        ASSERT_TRUE(modem.Start(switches));
        ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    }

    PhoneSim modem;
};

TEST_F(SerialPorts, APortNotNamedInTheProfileDoesNotExist) {
    StartModem();
    SetLastError(0);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenPort(L"COM9:"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(SerialPorts, ANamedPortWithoutItsModemCannotOpen) {
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", "127.0.0.1:1"}})));
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenPort(L"COM2:"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_READY), GetLastError());
}

TEST_F(SerialPorts, APortOpensOnceAtATimeWhateverTheLetterCase) {
    StartModem();
    const HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    EXPECT_EQ(INVALID_HANDLE_VALUE, OpenPort(L"com2:"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_TRUE(serial::CloseHandle(port));
    EXPECT_FALSE(serial::CloseHandle(port));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());

    const HANDLE again = OpenPort(L"com2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, again);
    EXPECT_TRUE(serial::CloseHandle(again));
}

TEST_F(SerialPorts, OpenRefusesWhatASerialPortCannotDo) {
    StartModem();
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              serial::CreateFileW(L"COM2:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    EXPECT_EQ(INVALID_HANDLE_VALUE, serial::CreateFileW(L"COM2:", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    EXPECT_EQ(INVALID_HANDLE_VALUE, serial::CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
}

TEST_F(SerialPorts, StartsTheSocketLibraryItself) {
    StartModem();
    while (WSACleanup() == 0) {
    }
    ASSERT_EQ(WSANOTINITIALISED, WSAGetLastError()) << "nothing in this process has the socket library now";

    const HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD written = 0;
    ASSERT_TRUE(Write(port, "AT\r", &written));
    EXPECT_EQ(3u, written);
    EXPECT_EQ("AT\r\r\nOK\r\n", ReadReply(port, 9));
    EXPECT_TRUE(serial::CloseHandle(port));
}

TEST_F(SerialPorts, KeepsTheStateTimeoutsAndMaskItIsGiven) {
    StartModem();
    const HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);

    DCB state = {};
    ASSERT_TRUE(serial::GetCommState(port, &state));
    EXPECT_EQ(sizeof(DCB), state.DCBlength);
    EXPECT_EQ(static_cast<DWORD>(CBR_9600), state.BaudRate);
    state.BaudRate = CBR_115200;
    state.fParity = FALSE;
    state.Parity = EVENPARITY;
    ASSERT_TRUE(serial::SetCommState(port, &state));
    DCB read = {};
    ASSERT_TRUE(serial::GetCommState(port, &read));
    EXPECT_EQ(static_cast<DWORD>(CBR_115200), read.BaudRate);
    EXPECT_EQ(EVENPARITY, read.Parity);
    state.ByteSize = 9;
    EXPECT_FALSE(serial::SetCommState(port, &state));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    COMMTIMEOUTS timeouts = {0, 0, 200, 0, 20000};
    ASSERT_TRUE(serial::SetCommTimeouts(port, &timeouts));
    COMMTIMEOUTS readBack = {};
    ASSERT_TRUE(serial::GetCommTimeouts(port, &readBack));
    EXPECT_EQ(200u, readBack.ReadTotalTimeoutConstant);
    EXPECT_EQ(20000u, readBack.WriteTotalTimeoutConstant);

    EXPECT_TRUE(serial::SetCommMask(port, EV_RXCHAR));
    EXPECT_FALSE(serial::SetCommMask(port, 0x80000000));
    EXPECT_TRUE(serial::EscapeCommFunction(port, SETDTR));
    EXPECT_TRUE(serial::EscapeCommFunction(port, CLRDTR));
    EXPECT_FALSE(serial::EscapeCommFunction(port, 99));

    BYTE input[] = {0x84, 0x00};
    EXPECT_TRUE(serial::DeviceIoControl(port, 0xAAAA5679, input, sizeof(input), nullptr, 0, nullptr, nullptr));
    EXPECT_FALSE(serial::DeviceIoControl(port, 0xAAAA5678, input, sizeof(input), nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), GetLastError());
    EXPECT_FALSE(serial::DeviceIoControl(port, 0xAAAA5679, nullptr, 0, nullptr, 0, nullptr, nullptr));

    serial::PortRecord record;
    ASSERT_TRUE(serial::InspectPort(port, &record));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), record.eventMask);
    EXPECT_EQ((std::vector<DWORD>{SETDTR, CLRDTR, 99}), record.lineRequests) << "refused requests are received too";
    ASSERT_EQ(3u, record.controlRequests.size());
    EXPECT_EQ(0xAAAA5679u, record.controlRequests[0].code);
    EXPECT_EQ((std::vector<BYTE>{0x84, 0x00}), record.controlRequests[0].input);
    EXPECT_EQ(0xAAAA5678u, record.controlRequests[1].code);
    EXPECT_TRUE(record.controlRequests[2].input.empty());
    EXPECT_TRUE(serial::CloseHandle(port));
    EXPECT_FALSE(serial::InspectPort(port, &record));

    EXPECT_FALSE(serial::GetCommState(port, &state)) << "a closed handle";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(SerialPorts, ReadsEndAsTheTimeoutsSay) {
    StartModem({"--silent"});
    const HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    char buffer[16];
    DWORD got = 99;

    SetReadTimeouts(port, 0, 0, 150);
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(serial::ReadFile(port, buffer, sizeof(buffer), &got, nullptr));
    EXPECT_EQ(0u, got);
    EXPECT_GE(Elapsed(start), 140u) << "the total time-out";
    EXPECT_LT(Elapsed(start), 1500u);

    SetReadTimeouts(port, 0, 20, 0);
    start = GetTickCount64();
    ASSERT_TRUE(serial::ReadFile(port, buffer, 10, &got, nullptr));
    EXPECT_GE(Elapsed(start), 190u) << "10 bytes at 20 ms each";

    SetReadTimeouts(port, MAXDWORD, 0, 0);
    start = GetTickCount64();
    ASSERT_TRUE(serial::ReadFile(port, buffer, sizeof(buffer), &got, nullptr));
    EXPECT_EQ(0u, got);
    EXPECT_LT(Elapsed(start), 100u) << "only what has arrived";
    EXPECT_TRUE(serial::CloseHandle(port));
}

TEST_F(SerialPorts, ReadsWhatArrivedUpToTheSizeAsked) {
    StartModem();
    const HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD written = 0;
    ASSERT_TRUE(Write(port, "AT+CREG=2\r", &written));
    ASSERT_EQ(10u, written);
    ASSERT_EQ("AT+CREG=2\r\r\nOK\r\n", ReadReply(port, 16));

    ASSERT_TRUE(Write(port, "AT+CREG?\r", &written));
    SetReadTimeouts(port, MAXDWORD, MAXDWORD, 1000);
    char buffer[64];
    DWORD got = 0;
    ASSERT_TRUE(serial::ReadFile(port, buffer, 4, &got, nullptr));
    EXPECT_EQ(4u, got) << "never more than asked";
    EXPECT_EQ("AT+C", std::string(buffer, got));
    EXPECT_EQ("REG?\r\r\n+CREG: 2,1,\"1A2B\",\"3C4D\"\r\n\r\nOK\r\n", ReadReply(port, 41));
    EXPECT_TRUE(serial::CloseHandle(port));
}

TEST_F(SerialPorts, WaitCommEventWaitsForTheFirstByteButNotForever) {
    StartModem({"--silent"});
    HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD event = 0;
    EXPECT_FALSE(serial::WaitCommEvent(port, &event, nullptr)) << "no EV_RXCHAR in the mask: it would never end";
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    ASSERT_TRUE(serial::SetCommMask(port, EV_RXCHAR));
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(serial::WaitCommEvent(port, &event, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), GetLastError());
    EXPECT_GE(Elapsed(start), 390u);
    EXPECT_LT(Elapsed(start), 2000u);
    EXPECT_TRUE(serial::CloseHandle(port));

    PhoneSim talking;
    ASSERT_TRUE(talking.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", talking.Endpoint()}})));
    port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    ASSERT_TRUE(serial::SetCommMask(port, EV_RXCHAR));
    DWORD written = 0;
    ASSERT_TRUE(Write(port, "AT\r", &written));
    event = 0;
    EXPECT_TRUE(serial::WaitCommEvent(port, &event, nullptr));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), event);
    EXPECT_TRUE(serial::CloseHandle(port));
}

TEST_F(SerialPorts, AModemThatHungUpTakesNothingAndGivesAFailedRead) {
    StartModem({"--hang-up"});
    const HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    Sleep(300);  // the simulator hangs up as soon as it accepts
    DWORD written = 99;
    ASSERT_TRUE(Write(port, "AT+creg=2\r", &written));
    EXPECT_EQ(0u, written) << "a short write, as when the line times out";
    char buffer[16];
    DWORD got = 0;
    SetReadTimeouts(port, 0, 0, 200);
    EXPECT_FALSE(serial::ReadFile(port, buffer, sizeof(buffer), &got, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), GetLastError());
    ASSERT_TRUE(serial::SetCommMask(port, EV_RXCHAR));
    DWORD event = 0;
    EXPECT_FALSE(serial::WaitCommEvent(port, &event, nullptr));
    EXPECT_TRUE(serial::CloseHandle(port));
}

TEST_F(SerialPorts, BytesBeforeAHangUpAreReadThenTheReadFails) {
    StartModem({"--drop"});
    const HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    DWORD written = 0;
    ASSERT_TRUE(Write(port, "AT+creg=2\r", &written));
    ASSERT_EQ(10u, written);
    SetReadTimeouts(port, 0, 0, 500);
    char buffer[64];
    DWORD got = 0;
    ASSERT_TRUE(serial::ReadFile(port, buffer, sizeof(buffer), &got, nullptr));
    EXPECT_EQ("AT+creg=2\r", std::string(buffer, got)) << "the echo came before the modem hung up";
    EXPECT_FALSE(serial::ReadFile(port, buffer, sizeof(buffer), &got, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED), GetLastError());
    EXPECT_TRUE(serial::CloseHandle(port));
}

TEST_F(SerialPorts, KeepsAPortsSettingsFromOneOpenToTheNextOnTheSamePhone) {
    StartModem();
    HANDLE port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    serial::PortRecord record;
    ASSERT_TRUE(serial::InspectPort(port, &record));
    EXPECT_FALSE(record.dtrRaised) << "the lines stay low until someone raises them";
    EXPECT_FALSE(record.rtsRaised);
    DCB state = record.state;
    state.BaudRate = CBR_57600;
    state.Parity = EVENPARITY;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    ASSERT_TRUE(serial::SetCommState(port, &state));
    COMMTIMEOUTS timeouts = {1, 2, 3, 4, 5};
    ASSERT_TRUE(serial::SetCommTimeouts(port, &timeouts));
    ASSERT_TRUE(serial::EscapeCommFunction(port, SETRTS));
    ASSERT_TRUE(serial::CloseHandle(port));

    port = OpenPort(L"com2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    ASSERT_TRUE(serial::InspectPort(port, &record));
    EXPECT_EQ(static_cast<DWORD>(CBR_57600), record.state.BaudRate);
    EXPECT_EQ(EVENPARITY, record.state.Parity);
    EXPECT_EQ(3u, record.timeouts.ReadTotalTimeoutConstant);
    EXPECT_TRUE(record.dtrRaised) << "an enabled DTR comes up with the port";
    EXPECT_FALSE(record.rtsRaised) << "a line raised by hand falls when the port closes";
    EXPECT_TRUE(record.lineRequests.empty()) << "requests belong to one open";
    ASSERT_TRUE(serial::CloseHandle(port));

    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    port = OpenPort(L"COM2:");
    ASSERT_NE(INVALID_HANDLE_VALUE, port);
    ASSERT_TRUE(serial::InspectPort(port, &record));
    EXPECT_EQ(static_cast<DWORD>(CBR_9600), record.state.BaudRate) << "another phone starts afresh";
    EXPECT_EQ(0u, record.timeouts.ReadTotalTimeoutConstant);
    EXPECT_TRUE(serial::CloseHandle(port));
}

TEST_F(SerialPorts, TheDriverOwnsALineItHandshakesOn) {
    StartModem();
    const struct {
        DWORD dtrControl;
        DWORD rtsControl;
        DWORD function;
        bool carriedOut;
        bool dtrRaised;
        bool rtsRaised;
    } cases[] = {
        {DTR_CONTROL_DISABLE, RTS_CONTROL_DISABLE, SETDTR, true, true, false},
        {DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, CLRDTR, true, false, true},
        {DTR_CONTROL_ENABLE, RTS_CONTROL_ENABLE, CLRRTS, true, true, false},
        {DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE, CLRDTR, false, false, false},
        {DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE, SETDTR, false, false, false},
        {DTR_CONTROL_HANDSHAKE, RTS_CONTROL_DISABLE, SETRTS, true, false, true},
        {DTR_CONTROL_DISABLE, RTS_CONTROL_HANDSHAKE, SETRTS, false, false, false},
        {DTR_CONTROL_DISABLE, RTS_CONTROL_TOGGLE, CLRRTS, false, false, false},
    };
    for (const auto& entry : cases) {
        const std::string name = "DTR control " + std::to_string(entry.dtrControl) + ", RTS control " +
                                 std::to_string(entry.rtsControl) + ", function " + std::to_string(entry.function);
        const HANDLE port = OpenPort(L"COM2:");
        ASSERT_NE(INVALID_HANDLE_VALUE, port) << name;
        DCB state = {};
        ASSERT_TRUE(serial::GetCommState(port, &state));
        state.fDtrControl = entry.dtrControl;
        state.fRtsControl = entry.rtsControl;
        ASSERT_TRUE(serial::SetCommState(port, &state)) << name;
        SetLastError(0);
        EXPECT_EQ(entry.carriedOut, serial::EscapeCommFunction(port, entry.function) != FALSE) << name;
        if (!entry.carriedOut) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << name;
        }
        serial::PortRecord record;
        ASSERT_TRUE(serial::InspectPort(port, &record));
        EXPECT_EQ(entry.dtrRaised, record.dtrRaised) << name;
        EXPECT_EQ(entry.rtsRaised, record.rtsRaised) << name;
        EXPECT_EQ((std::vector<DWORD>{entry.function}), record.lineRequests) << name;
        ASSERT_TRUE(serial::CloseHandle(port));
        ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));  // a fresh port
    }
}

TEST_F(SerialPorts, ABlockedCallIsReleasedFromAnotherThread) {
    GetDurations().modemWaitMs = 20000;
    // Long enough that only the release can end these calls.
    const COMMTIMEOUTS patient = {0, 0, 20000, 0, 20000};
    const std::string flooded(32 << 20, 'x');  // more than the socket buffers of both ends hold

    struct Outcome {
        BOOL result = FALSE;
        DWORD error = 0;
        DWORD count = 0;
        DWORD event = 99;
    };
    using Call = std::function<void(HANDLE, Outcome*)>;
    const Call waitForEvent = [](HANDLE port, Outcome* outcome) {
        outcome->result = serial::WaitCommEvent(port, &outcome->event, nullptr);
        outcome->error = GetLastError();
    };
    const Call read = [](HANDLE port, Outcome* outcome) {
        char buffer[64];
        outcome->result = serial::ReadFile(port, buffer, sizeof(buffer), &outcome->count, nullptr);
        outcome->error = GetLastError();
    };
    const Call write = [&flooded](HANDLE port, Outcome* outcome) {
        outcome->result =
            serial::WriteFile(port, flooded.data(), static_cast<DWORD>(flooded.size()), &outcome->count, nullptr);
        outcome->error = GetLastError();
    };
    const auto purge = [](DWORD flags) { return [flags](HANDLE port) { ASSERT_TRUE(serial::PurgeComm(port, flags)); }; };
    const auto newMask = [](HANDLE port) { ASSERT_TRUE(serial::SetCommMask(port, EV_RXCHAR)); };
    const auto close = [](HANDLE port) { ASSERT_TRUE(serial::CloseHandle(port)); };

    const struct {
        const char* name;
        const char* fault;
        Call call;
        std::function<void(HANDLE)> otherRelease;  // ends something else: the call goes on
        std::function<void(HANDLE)> release;
        bool result;
        DWORD error;
        DWORD event;
    } cases[] = {
        {"a wait for an event, by a new mask", "--silent", waitForEvent, purge(PURGE_RXABORT | PURGE_TXABORT), newMask,
         true, 0, 0},
        {"a read, by a purge of the reads", "--silent", read, purge(PURGE_TXABORT), purge(PURGE_RXABORT), false,
         ERROR_OPERATION_ABORTED, 99},
        {"a write the modem does not take, by a purge of the writes", "--flood", write, purge(PURGE_RXABORT),
         purge(PURGE_TXABORT), false, ERROR_OPERATION_ABORTED, 99},
        {"a read, by closing the handle", "--silent", read, newMask, close, false, ERROR_OPERATION_ABORTED, 99},
    };
    for (const auto& entry : cases) {
        PhoneSim modem;
        ASSERT_TRUE(modem.Start({entry.fault}));
        ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
        const HANDLE port = OpenPort(L"COM2:");
        ASSERT_NE(INVALID_HANDLE_VALUE, port) << entry.name;
        COMMTIMEOUTS timeouts = patient;
        ASSERT_TRUE(serial::SetCommTimeouts(port, &timeouts));
        ASSERT_TRUE(serial::SetCommMask(port, EV_RXCHAR));
        DWORD written = 0;
        // The flooding modem stops reading after its first command.
        if (std::string(entry.fault) == "--flood") {
            ASSERT_TRUE(Write(port, "AT\r", &written));
        }

        Outcome outcome;
        const HANDLE finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::thread caller([&] {
            entry.call(port, &outcome);
            SetEvent(finished);
        });
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(finished, 300)) << entry.name << " blocks";
        entry.otherRelease(port);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(finished, 300))
            << entry.name << " is not ended by another kind of release";
        const ULONGLONG start = GetTickCount64();
        entry.release(port);
        const DWORD ended = WaitForSingleObject(finished, 5000);
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (ended != WAIT_OBJECT_0) serial::CloseHandle(port);  // the call would otherwise hold the test
        caller.join();
        CloseHandle(finished);
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), ended) << entry.name;
        EXPECT_LT(elapsed, 1000u) << entry.name << " ends at its release";
        EXPECT_EQ(entry.result, outcome.result != FALSE) << entry.name;
        if (!entry.result) {
            EXPECT_EQ(entry.error, outcome.error) << entry.name;
        }
        EXPECT_EQ(entry.event, outcome.event) << entry.name << ": a wait ended by a new mask saw no event";
        if (std::string(entry.fault) == "--flood") {
            EXPECT_GT(outcome.count, 0u) << entry.name << ": what was written before the modem stopped taking it";
            EXPECT_LT(outcome.count, flooded.size()) << entry.name;
        }
        serial::CloseHandle(port);
    }
}

}  // namespace
