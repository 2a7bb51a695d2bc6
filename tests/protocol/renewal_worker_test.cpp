// A log-in renewal while the sampling worker reads the modem: the "Cant initialize RIL" box that the
// walk of the server's methods brings up must not hold the worker, so that the user can switch
// location off from inside the box.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "app/message_box.h"
#include "location/cell_monitor.h"
#include "location/cell_sampler.h"
#include "location/cell_source.h"
#include "phonesim_process.h"
#include "platform/durations.h"
#include "protocol/handshake.h"
#include "resources/texts.h"
#include "tests/protocol/exchange_fixture.h"

namespace {

class RenewalWithWorker : public ExchangeTest {
protected:
    void TearDown() override {
        ExchangeTest::TearDown();
        UseDeviceProfile("<Device/>");
    }
};

TEST_F(RenewalWithWorker, StoppingTheWorkerFromTheRadioBoxReturnsAtOnce) {
    Durations& durations = GetDurations();
    durations.samplingPeriodMs = 5;
    durations.modemQuietMs = 50;
    PhoneSim modem;
    ASSERT_TRUE(modem.Start());
    ASSERT_TRUE(UseDeviceProfile(DeviceProfileText("none", "", {{"COM2:", modem.Endpoint()}})));
    CellMonitor* monitor = context->cellMonitor;
    ASSERT_TRUE(OpenCellSource(monitor, CellMethod::Com2));  // the source of the first log-in
    monitor->history.assign(3, CellIdentity());
    ASSERT_TRUE(StartCellSampler(monitor));
    HANDLE worker = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), monitor->worker, GetCurrentProcess(), &worker, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));

    // Should the stop never return, the worker is ended by force, so that the test fails instead of
    // hanging with it.
    const HANDLE stopReturned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> deadlocked{false};
    std::thread watchdog([&] {
        if (WaitForSingleObject(stopReturned, 10000) == WAIT_TIMEOUT) {
            deadlocked = true;
            TerminateThread(worker, 0);
        }
    });

    int radioBoxes = 0;
    ULONGLONG stopMs = 0;
    SetMessageBoxAnswerer([&](HWND, const wchar_t* text, const wchar_t*, UINT) {
        if (std::wstring(text) != kTextCantInitializeRadio) return IDOK;
        ++radioBoxes;
        // The worker's next cycle asks for the radio the renewal has just named; give it time to get
        // as far as it can while the box is up. Then the user chooses "Отключен".
        Sleep(300);
        const ULONGLONG start = GetTickCount64();
        StopCellSampler(monitor);
        stopMs = GetTickCount64() - start;
        SetEvent(stopReturned);
        return IDOK;
    });
    server.Push(pelmora_test::XmlReply("<handshake><status>0</status><token>T0K</token><method>1</method><method>2</method></handshake>"));
    EXPECT_TRUE(Handshake(*context));
    SetEvent(stopReturned);
    watchdog.join();
    CloseHandle(stopReturned);
    CloseHandle(worker);

    EXPECT_FALSE(deadlocked) << "the stop waited for a worker that waited for the box";
    EXPECT_EQ(1, radioBoxes);
    EXPECT_LT(stopMs, 500u);
    EXPECT_FALSE(IsCellSamplerRunning(monitor));
    EXPECT_EQ(CellMethod::Com2, monitor->method) << "after the box the walk went on to COM2:";
}

}  // namespace
