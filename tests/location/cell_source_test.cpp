// The cell sources against the real device layer and a running phone simulator: the modem reading,
// the radio's answers, the probe order, opening a named source and the walk of the server's list.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "location/cell_source.h"
#include "monitor_fixture.h"
#include "platform/ril.h"
#include "platform/serial_port.h"

namespace {

constexpr char kModemCommands[] = "AT+creg=2\rAT+creg?\r";

class CellSources : public MonitorTest {
protected:
    // The port can be opened again: whoever had it closed it.
    static bool PortIsFree(const wchar_t* name) {
        const HANDLE port = serial::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (port == INVALID_HANDLE_VALUE) return false;
        serial::CloseHandle(port);
        return true;
    }

    // What the port's previous user left in the driver, which keeps a port's settings between opens.
    static void LeavePortSettings(const wchar_t* name, const std::function<void(DCB*)>& change) {
        const HANDLE port = serial::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, port);
        DCB state = {};
        ASSERT_TRUE(serial::GetCommState(port, &state));
        change(&state);
        ASSERT_TRUE(serial::SetCommState(port, &state));
        ASSERT_TRUE(serial::CloseHandle(port));
    }

    serial::PortRecord PortAsTheDriverHasIt() const {
        serial::PortRecord record;
        EXPECT_TRUE(serial::InspectPort(monitor->port, &record));
        return record;
    }
};

TEST_F(CellSources, AModemReadingWritesTheTwoCommandsAndStoresTheCell) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    monitor->current.changedAt = 1234;
    ASSERT_TRUE(OpenModemPort(monitor, L"COM2:"));
    ASSERT_TRUE(ReadCellFromModem(monitor));
    EXPECT_EQ(Cell(6699, 15437, 1234), ReadCurrentCell(monitor)) << "a source never writes changedAt";
    EXPECT_EQ(kModemCommands, modem.ReceivedBytes());
}

TEST_F(CellSources, AModemReadingKeepsTheLow16Bits) {
    for (const auto& cell : {std::make_pair("00C1,FFFF", Cell(193, 65535)), std::make_pair("00C1,1A2B3C4D", Cell(193, 15437))}) {
        PhoneSim modem;
        ASSERT_TRUE(modem.Start({"--cell", cell.first}));
        ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
        ASSERT_TRUE(OpenModemPort(monitor, L"COM2:"));
        ASSERT_TRUE(ReadCellFromModem(monitor)) << cell.first;
        EXPECT_EQ(cell.second, ReadCurrentCell(monitor)) << cell.first;
    }
}

TEST_F(CellSources, BadModemInputIsAFailedReadingThatChangesNothing) {
    for (const char* fault : {"--garbage", "--no-creg", "--flood", "--drop", "--silent", "--hang-up"}) {
        PhoneSim modem;
        ASSERT_TRUE(modem.Start({fault}));
        ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
        monitor->current = Cell(111, 222);
        ASSERT_TRUE(OpenModemPort(monitor, L"COM2:")) << fault;
        if (std::string(fault) == "--hang-up") Sleep(300);  // let the hang-up arrive before the first write
        const ULONGLONG start = GetTickCount64();
        EXPECT_FALSE(ReadCellFromModem(monitor)) << fault;
        EXPECT_LT(GetTickCount64() - start, 2 * GetDurations().modemWaitMs + 1000) << fault << " must not hang";
        EXPECT_EQ(Cell(111, 222), ReadCurrentCell(monitor)) << fault;
        EXPECT_FALSE(ReadCellFromModem(monitor)) << fault << ", read again";
        EXPECT_EQ(Cell(111, 222), ReadCurrentCell(monitor)) << fault;
    }
}

TEST_F(CellSources, TheModemPortIsSetUpAsTheDriverReceivesIt) {
    GetDurations().modemQuietMs = Durations().modemQuietMs;  // the program's own quiet time
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    DCB left = {};
    LeavePortSettings(L"COM2:", [&left](DCB* state) {
        state->BaudRate = CBR_9600;
        state->ByteSize = 7;
        state->Parity = ODDPARITY;
        state->fParity = TRUE;
        state->StopBits = TWOSTOPBITS;
        state->fOutxCtsFlow = TRUE;
        state->XonChar = 0x21;
        left = *state;
    });
    ASSERT_TRUE(OpenModemPort(monitor, L"COM2:"));

    serial::PortRecord port = PortAsTheDriverHasIt();
    EXPECT_EQ(115200u, port.state.BaudRate);
    EXPECT_EQ(8, port.state.ByteSize);
    EXPECT_FALSE(port.state.fParity) << "no parity check";
    EXPECT_EQ(ONESTOPBIT, port.state.StopBits);
    DCB expected = left;
    expected.BaudRate = CBR_115200;
    expected.ByteSize = 8;
    expected.fParity = FALSE;
    expected.StopBits = ONESTOPBIT;
    EXPECT_EQ(0, memcmp(&expected, &port.state, sizeof(DCB))) << "the parity mode and every other field as found";
    EXPECT_EQ(0u, port.timeouts.ReadIntervalTimeout);
    EXPECT_EQ(0u, port.timeouts.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(200u, port.timeouts.ReadTotalTimeoutConstant);
    EXPECT_EQ(0u, port.timeouts.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(20000u, port.timeouts.WriteTotalTimeoutConstant);
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), port.eventMask);
    EXPECT_TRUE(port.dtrRaised);
    EXPECT_TRUE(port.rtsRaised);
    EXPECT_EQ((std::vector<DWORD>{SETDTR, SETRTS}), port.lineRequests) << "DTR first, then RTS";
    ASSERT_EQ(1u, port.controlRequests.size());
    EXPECT_EQ(0xAAAA5679u, port.controlRequests[0].code);
    EXPECT_EQ((std::vector<BYTE>{0x84, 0x00}), port.controlRequests[0].input);
    EXPECT_EQ("", modem.ReceivedBytes()) << "opening does not talk to the modem";

    for (int reading = 1; reading <= 2; ++reading) {
        ASSERT_TRUE(ReadCellFromModem(monitor)) << "reading " << reading;
        port = PortAsTheDriverHasIt();
        EXPECT_FALSE(port.dtrRaised) << "DTR is dropped after reading " << reading;
        EXPECT_TRUE(port.rtsRaised) << "reading " << reading;
        std::vector<DWORD> expectedRequests = {SETDTR, SETRTS};
        expectedRequests.insert(expectedRequests.end(), static_cast<std::size_t>(reading), CLRDTR);
        EXPECT_EQ(expectedRequests, port.lineRequests) << "reading " << reading;
    }
    EXPECT_EQ(std::string(kModemCommands) + kModemCommands, modem.ReceivedBytes());
}

TEST_F(CellSources, AFailedDtrDropFailsTheReading) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    // DTR handshaking left on by the port's previous user: the driver owns DTR and refuses to drop it.
    LeavePortSettings(L"COM2:", [](DCB* state) { state->fDtrControl = DTR_CONTROL_HANDSHAKE; });
    ASSERT_TRUE(OpenModemPort(monitor, L"COM2:")) << "a refused SETDTR does not fail the open";
    monitor->current = Cell(111, 222);
    EXPECT_FALSE(ReadCellFromModem(monitor));
    EXPECT_EQ(Cell(111, 222), ReadCurrentCell(monitor)) << "the cell the modem gave is not taken";
    EXPECT_EQ(kModemCommands, modem.ReceivedBytes()) << "the whole exchange took place before the drop";
    const serial::PortRecord port = PortAsTheDriverHasIt();
    ASSERT_FALSE(port.lineRequests.empty());
    EXPECT_EQ(static_cast<DWORD>(CLRDTR), port.lineRequests.back());
}

TEST_F(CellSources, AReplyWithoutCellOrWithoutPortFails) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--unregistered-every", "1"}));
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    monitor->current = Cell(111, 222);
    EXPECT_FALSE(ReadCellFromModem(monitor)) << "no port open yet";
    ASSERT_TRUE(OpenModemPort(monitor, L"COM2:"));
    EXPECT_FALSE(ReadCellFromModem(monitor)) << "+CREG: 2,0 carries no quotes";
    EXPECT_EQ(Cell(111, 222), ReadCurrentCell(monitor));
}

TEST_F(CellSources, OnlyTheAnswerToTheAwaitedRequestCounts) {
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("silent", "", {})));  // requests are taken, never answered
    RILCELLTOWERINFO record = {};
    record.cbSize = sizeof(record);
    record.dwLocationAreaCode = 0x100C1;
    record.dwCellID = 0x1A2B3C4D;
    const HRESULT failure = E_FAIL;
    enum class Data { Record, Failure, None, Short };
    const struct {
        const char* name;
        DWORD code;
        Data data;
        HRESULT commandShift;    // the answer names another command of the connection
        DWORD connectionShift;   // the answer comes from another connection
        bool givenUpBefore;      // the waiter gave the request up before the answer came
        bool answers;
        CellIdentity current;
    } cases[] = {
        {"its record", RIL_RESULT_OK, Data::Record, 0, 0, false, true, Cell(193, 15437)},
        {"an error result", RIL_RESULT_ERROR, Data::Failure, 0, 0, false, true, Cell(1, 2)},
        {"a result without a record", RIL_RESULT_OK, Data::None, 0, 0, false, true, Cell(1, 2)},
        {"a record too short to hold the cell", RIL_RESULT_OK, Data::Short, 0, 0, false, true, Cell(1, 2)},
        {"the record of another command", RIL_RESULT_OK, Data::Record, 1, 0, false, false, Cell(1, 2)},
        {"the record of a closed connection", RIL_RESULT_OK, Data::Record, 0, 1, false, false, Cell(1, 2)},
        {"its record after the waiter gave up", RIL_RESULT_OK, Data::Record, 0, 0, true, false, Cell(1, 2)},
    };
    for (const auto& entry : cases) {
        ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Radio)) << entry.name;
        monitor->current = Cell(1, 2);
        const RadioTicket ticket = RequestRadioCell(monitor);
        ASSERT_TRUE(ticket) << entry.name;
        EXPECT_EQ(1, monitor->pendingAnswers) << entry.name;
        if (entry.givenUpBefore) {
            EXPECT_FALSE(AwaitRadioAnswer(monitor, ticket, [] { return false; })) << entry.name;
            EXPECT_EQ(0, monitor->pendingAnswers) << entry.name << ": a request given up gives its count back";
        }
        const void* data = entry.data == Data::Failure ? static_cast<const void*>(&failure)
                           : entry.data == Data::None  ? nullptr
                                                       : static_cast<const void*>(&record);
        const DWORD size = entry.data == Data::Failure ? sizeof(failure)
                           : entry.data == Data::Short ? 2 * sizeof(DWORD)
                           : entry.data == Data::None  ? 0
                                                       : sizeof(record);
        OnRadioResult(entry.code, ticket.command + entry.commandShift, data, size,
                      ticket.connection - entry.connectionShift);
        EXPECT_EQ(entry.current, ReadCurrentCell(monitor)) << entry.name;
        if (!entry.givenUpBefore) {
            EXPECT_EQ(entry.answers ? 0 : 1, monitor->pendingAnswers) << entry.name;
            EXPECT_EQ(entry.answers, AwaitRadioAnswer(monitor, ticket, [] { return false; })) << entry.name;
        }
        EXPECT_EQ(0, monitor->pendingAnswers) << entry.name;
        EXPECT_TRUE(monitor->radioRequests.empty()) << entry.name << ": the waiter is done with its request";
    }
}

TEST_F(CellSources, ARefusedRadioRequestIsNotWaitedFor) {
    EXPECT_FALSE(RequestRadioCell(monitor)) << "no radio connection";
    EXPECT_EQ(0, monitor->pendingAnswers);
}

TEST_F(CellSources, AnAnsweringRadioIsMethod1AndNoPortIsOpened) {
    PhoneSim radioModem;
    PhoneSim portModem;
    ASSERT_TRUE(radioModem.Start({"--cell", "00C1,FFFF"}));
    ASSERT_TRUE(portModem.Start());
    ASSERT_TRUE(UseDeviceProfile(
        DeviceProfileText("modem", radioModem.Endpoint(), {{"COM2:", portModem.Endpoint()}, {"COM9:", portModem.Endpoint()}})));
    ASSERT_TRUE(ProbeCellSource(monitor));
    EXPECT_EQ(CellMethod::Radio, monitor->method);
    EXPECT_EQ(1, monitor->probed);
    EXPECT_EQ(1, monitor->enabled);
    EXPECT_EQ(Cell(193, 65535), ReadCurrentCell(monitor));
    EXPECT_NE(nullptr, monitor->radio) << "the radio stays connected";
    EXPECT_EQ(nullptr, monitor->port);
    EXPECT_TRUE(PortIsFree(L"COM2:"));
    EXPECT_EQ("", portModem.ReceivedBytes()) << "no port was tried";
    EXPECT_TRUE(boxes.empty());
}

TEST_F(CellSources, ASilentRadioGetsTenPollsThenCom2IsTried) {
    GetDurations().radioPollMs = 40;
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("silent", "", {{"COM2:", modem.Endpoint()}})));
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(ProbeCellSource(monitor));
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(elapsed, 10u * 40u - 20u) << "ten waits for the radio";
    EXPECT_LT(elapsed, 11u * 40u + 1500u) << "and no more";
    EXPECT_EQ(CellMethod::Com2, monitor->method);
    EXPECT_EQ(1, monitor->probed);
    EXPECT_EQ(Cell(6699, 15437), ReadCurrentCell(monitor));
    EXPECT_NE(nullptr, monitor->port) << "the port stays open";
    EXPECT_EQ(nullptr, monitor->radio) << "the radio layer was let go";
    EXPECT_EQ(0, monitor->pendingAnswers);
    EXPECT_EQ(kModemCommands, modem.ReceivedBytes());
}

TEST_F(CellSources, WithoutARadioTheRefusalIsReportedAndCom2IsTriedAtOnce) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    const SourceResult result = ProbeCellSource(monitor);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result.radioRefused) << "for the caller to tell the user";
    EXPECT_EQ(CellMethod::Com2, monitor->method);
    EXPECT_TRUE(boxes.empty()) << "the sources themselves show nothing";
}

TEST_F(CellSources, AMissingCom2LeadsToCom9) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start({"--cell", "00C1,FFFF"}));
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM9:", modem.Endpoint()}})));
    ASSERT_TRUE(ProbeCellSource(monitor));
    EXPECT_EQ(CellMethod::Com9, monitor->method);
    EXPECT_EQ(Cell(193, 65535), ReadCurrentCell(monitor));
}

TEST_F(CellSources, AFailedReadingOnCom2ClosesItAndTriesCom9) {
    for (const char* fault : {"--drop", "--hang-up", "--garbage"}) {
        PhoneSim broken;
        PhoneSim working;
        ASSERT_TRUE(broken.Start({fault}));
        ASSERT_TRUE(working.Start({"--cell", "00C1,FFFF"}));
        ASSERT_TRUE(UseDeviceProfile(
            DeviceProfileText("none", "", {{"COM2:", broken.Endpoint()}, {"COM9:", working.Endpoint()}})));
        monitor->method = CellMethod::Probe;
        ASSERT_TRUE(ProbeCellSource(monitor)) << fault;
        EXPECT_EQ(CellMethod::Com9, monitor->method) << fault;
        EXPECT_EQ(Cell(193, 65535), ReadCurrentCell(monitor)) << fault;
        EXPECT_TRUE(PortIsFree(L"COM2:")) << fault << ": COM2: was closed";
        EXPECT_FALSE(PortIsFree(L"COM9:")) << fault << ": COM9: stays open";
        CloseCellSources(monitor);
    }
}

TEST_F(CellSources, WhenNothingWorksLocationIsSwitchedOff) {
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {})));
    EXPECT_FALSE(ProbeCellSource(monitor));
    EXPECT_EQ(CellMethod::Off, monitor->method);
    EXPECT_EQ(0, monitor->enabled);
    EXPECT_EQ(1, monitor->probed);
    EXPECT_EQ(nullptr, monitor->port);
    EXPECT_EQ(nullptr, monitor->radio);
}

TEST_F(CellSources, OpeningANamedSource) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));

    EXPECT_FALSE(OpenCellSource(monitor, CellMethod::Off));
    EXPECT_FALSE(OpenCellSource(monitor, CellMethod::Probe));
    EXPECT_EQ(CellMethod::Probe, monitor->method) << "-1 and 0 change nothing";
    EXPECT_EQ(1, monitor->enabled);

    const SourceResult missingPort = OpenCellSource(monitor, CellMethod::Com9);
    EXPECT_FALSE(missingPort) << "this phone has no COM9:";
    EXPECT_FALSE(missingPort.radioRefused);
    EXPECT_EQ(CellMethod::Com9, monitor->method) << "the method is stored before the open";
    EXPECT_EQ(1, monitor->enabled);
    EXPECT_FALSE(OpenCellSource(monitor, static_cast<CellMethod>(7)));
    EXPECT_EQ(static_cast<CellMethod>(7), monitor->method);
    EXPECT_FALSE(OpenCellSource(monitor, static_cast<CellMethod>(-5)));
    EXPECT_EQ(static_cast<CellMethod>(-5), monitor->method);
    EXPECT_TRUE(boxes.empty());

    const SourceResult radio = OpenCellSource(monitor, CellMethod::Radio);
    EXPECT_FALSE(radio);
    EXPECT_TRUE(radio.radioRefused);
    EXPECT_EQ(CellMethod::Radio, monitor->method);
    EXPECT_TRUE(boxes.empty());

    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Com2));
    EXPECT_EQ(CellMethod::Com2, monitor->method);
    EXPECT_NE(nullptr, monitor->port);
    EXPECT_EQ("", modem.ReceivedBytes()) << "opening does not read";

    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Com2)) << "a renewed log-in opens the same port again";
    EXPECT_TRUE(ReadCellFromModem(monitor));
}

TEST_F(CellSources, TheServerSwitchesLocationOffWithoutAProbe) {
    int probes = 0;
    EXPECT_EQ(MethodChoice::SwitchedOff,
              ChooseCellMethod(monitor, {CellMethod::Off, CellMethod::Probe}, [&] { ++probes; }, nullptr));
    EXPECT_EQ(0, monitor->enabled);
    EXPECT_EQ(0, probes);
    EXPECT_EQ(0, monitor->probed);
}

TEST_F(CellSources, TheServersMethodsAreTriedInOrder) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    int probes = 0;
    int refusals = 0;
    const auto probe = [&] { ++probes; };
    const auto refused = [&] { ++refusals; };
    EXPECT_EQ(MethodChoice::Opened,
              ChooseCellMethod(monitor, {std::nullopt, CellMethod::Com9, CellMethod::Com2, CellMethod::Radio}, probe,
                               refused));
    EXPECT_EQ(CellMethod::Com2, monitor->method);
    EXPECT_NE(nullptr, monitor->port);
    EXPECT_EQ(0, refusals) << "the radio after COM2: was never tried";
    EXPECT_EQ(0, probes);

    EXPECT_EQ(MethodChoice::Exhausted, ChooseCellMethod(monitor, {CellMethod::Com9}, probe, refused));
    EXPECT_EQ(CellMethod::Com9, monitor->method);
    EXPECT_EQ(1, monitor->enabled) << "the log-in goes on with location";
    EXPECT_EQ(MethodChoice::Exhausted, ChooseCellMethod(monitor, {}, probe, refused));
    EXPECT_EQ(0, probes);
}

TEST_F(CellSources, ARefusedRadioIsToldWithTheSourcesLetGo) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    const struct {
        std::vector<std::optional<CellMethod>> methods;
        MethodChoice choice;
        CellMethod method;
    } walks[] = {
        {{CellMethod::Radio, CellMethod::Com2}, MethodChoice::Opened, CellMethod::Com2},
        {{CellMethod::Radio}, MethodChoice::Exhausted, CellMethod::Radio},
        {{CellMethod::Probe}, MethodChoice::ProbeFound, CellMethod::Com2},
    };
    for (const auto& walk : walks) {
        CloseCellSources(monitor);
        int refusals = 0;
        bool sourcesFree = false;
        bool portOpenWhenTold = true;
        EXPECT_EQ(walk.choice, ChooseCellMethod(monitor, walk.methods, nullptr, [&] {
                      ++refusals;
                      // Whatever the user does in the box, the worker must be able to take the sources.
                      sourcesFree = monitor->sourceLock.try_lock();
                      if (sourcesFree) monitor->sourceLock.unlock();
                      portOpenWhenTold = monitor->port != nullptr;
                  })) << walk.methods.size();
        EXPECT_EQ(1, refusals) << walk.methods.size();
        EXPECT_TRUE(sourcesFree) << walk.methods.size();
        EXPECT_EQ(walk.method, monitor->method) << walk.methods.size();
        if (walk.choice == MethodChoice::Opened) {
            EXPECT_FALSE(portOpenWhenTold) << "told after the radio's try, before COM2:'s";
        }
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(CellSources, ZeroOrAnUnknownMethodProbesAfterTheWarning) {
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM9:", modem.Endpoint()}})));
    // A text without digits reads as 0 (ReadMethodList), a probe like the others.
    for (const CellMethod method : {CellMethod::Probe, static_cast<CellMethod>(4)}) {
        const int text = static_cast<int>(method);
        CloseCellSources(monitor);
        monitor->probed = 0;
        monitor->method = CellMethod::Probe;
        int warnings = 0;
        bool warnedBeforeProbing = false;
        EXPECT_EQ(MethodChoice::ProbeFound, ChooseCellMethod(
                                                monitor, {method, CellMethod::Com2},
                                                [&] {
                                                    ++warnings;
                                                    warnedBeforeProbing = monitor->probed == 0;
                                                },
                                                nullptr))
            << text;
        EXPECT_EQ(1, warnings) << text;
        EXPECT_TRUE(warnedBeforeProbing) << text;
        EXPECT_EQ(CellMethod::Com9, monitor->method) << text << ": nothing after the probe is examined";
        EXPECT_EQ(1, monitor->probed) << text;
    }

    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {})));
    EXPECT_EQ(MethodChoice::ProbeFailed, ChooseCellMethod(monitor, {CellMethod::Probe}, [] {}, [] {}));
    EXPECT_EQ(CellMethod::Off, monitor->method);
    EXPECT_EQ(0, monitor->enabled);
}

}  // namespace
