#include "platform/ril.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/creg_reply.h"
#include "platform/device_profile.h"
#include "platform/durations.h"
#include "platform/handle_table.h"
#include "platform/modem_link.h"

namespace {

constexpr DWORD kRadioIndex = 1;
constexpr char kRegistrationReportOn[] = "AT+CREG=2\r";
constexpr char kRegistrationQuery[] = "AT+CREG?\r";
// Slices of a wait for the modem, so that a closing connection does not wait a whole time-out.
constexpr DWORD kWaitSliceMs = 100;
constexpr std::size_t kReplyCapacity = 512;

struct Radio {
    RILRESULTCALLBACK result = nullptr;
    DWORD parameter = 0;
    RadioMode mode = RadioMode::None;
    std::string modem;  // "HOST:PORT"

    std::mutex lock;  // guards `commands` and `lastCommand`
    std::condition_variable wake;
    std::deque<HRESULT> commands;
    HRESULT lastCommand = 0;
    std::atomic<bool> stopping{false};
    std::thread thread;

    ModemLink link;  // the radio thread's only
};

HandleTable<Radio>& Radios() {
    static HandleTable<Radio> table(0x70000000);
    return table;
}

bool EndsWithFinalResult(const std::string& reply) {
    for (const char* final : {"\r\nOK\r\n", "\r\nERROR\r\n"}) {
        const std::size_t length = std::strlen(final);
        if (reply.size() >= length && reply.compare(reply.size() - length, length, final) == 0) return true;
    }
    return false;
}

// How one exchange with the modem ended.
enum class Exchange {
    Answered,
    Failed,  // no usable answer: the command gets an error result
    HungUp,  // the modem hung up in the middle: it reset, and the command is lost with it
};

// Sends one command and collects the modem's answer up to its final result code, without the echo of
// the command. Fails when the modem stays quiet longer than the wait for a modem, talks without end,
// or the radio is closing.
Exchange Converse(Radio& radio, const char* command, std::string* reply) {
    const int length = static_cast<int>(std::strlen(command));
    if (radio.link.Send(command, length, GetDurations().modemWaitMs) != length) {
        return radio.link.WaitForData(0) == ModemLink::Readiness::HungUp ? Exchange::HungUp : Exchange::Failed;
    }
    reply->clear();
    const ULONGLONG deadline = GetTickCount64() + GetDurations().modemWaitMs;
    char chunk[128];
    while (!radio.stopping && reply->size() < kReplyCapacity) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return Exchange::Failed;
        const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(kWaitSliceMs, deadline - now));
        const ModemLink::Readiness readiness = radio.link.WaitForData(slice);
        if (readiness == ModemLink::Readiness::TimedOut) continue;
        if (readiness == ModemLink::Readiness::HungUp) return Exchange::HungUp;
        if (readiness != ModemLink::Readiness::Data) return Exchange::Failed;
        const int received = radio.link.Receive(chunk, sizeof(chunk));
        if (received <= 0) return Exchange::Failed;
        reply->append(chunk, static_cast<std::size_t>(received));
        if (EndsWithFinalResult(*reply)) {
            // The echo of the upper-case command holds "CREG" too; only the modem's answer counts.
            if (reply->compare(0, static_cast<std::size_t>(length), command) == 0) reply->erase(0, static_cast<std::size_t>(length));
            return Exchange::Answered;
        }
    }
    return Exchange::Failed;
}

// Asks the modem for the serving cell as a radio driver does: result mode 2 once per connection, then
// the registration query. A broken exchange drops the connection; the next command starts a new one.
Exchange AskModemForCell(Radio& radio, RILCELLTOWERINFO* info) {
    std::string reply;
    if (!radio.link.IsOpen()) {
        if (!radio.link.Connect(radio.modem, GetDurations().modemWaitMs)) return Exchange::Failed;
        const Exchange setUp = Converse(radio, kRegistrationReportOn, &reply);
        if (setUp != Exchange::Answered) {
            radio.link.Close();
            return setUp;
        }
    }
    const Exchange query = Converse(radio, kRegistrationQuery, &reply);
    if (query != Exchange::Answered) {
        radio.link.Close();
        return query;
    }
    std::uint32_t lac = 0;
    std::uint32_t cid = 0;
    if (!ParseCregReply(reply.data(), reply.size(), &lac, &cid)) return Exchange::Failed;
    info->dwParams = RIL_PARAM_CTI_LOCATIONAREACODE | RIL_PARAM_CTI_CELLID;
    info->dwLocationAreaCode = lac;
    info->dwCellID = cid;
    return Exchange::Answered;
}

void ServeCommands(const std::shared_ptr<Radio>& radio) {
    for (;;) {
        HRESULT command = 0;
        {
            std::unique_lock<std::mutex> lock(radio->lock);
            radio->wake.wait(lock, [&] { return radio->stopping || !radio->commands.empty(); });
            if (radio->stopping) return;
            command = radio->commands.front();
            radio->commands.pop_front();
        }
        RILCELLTOWERINFO info = {};
        info.cbSize = sizeof(info);
        const Exchange exchange = AskModemForCell(*radio, &info);
        if (radio->stopping || exchange == Exchange::HungUp) continue;
        if (exchange == Exchange::Answered) {
            radio->result(RIL_RESULT_OK, command, &info, sizeof(info), radio->parameter);
        } else {
            const HRESULT failure = E_FAIL;
            radio->result(RIL_RESULT_ERROR, command, &failure, sizeof(failure), radio->parameter);
        }
    }
}

}  // namespace

HRESULT RIL_Initialize(DWORD dwIndex, RILRESULTCALLBACK pfnResult, RILNOTIFYCALLBACK, DWORD, DWORD dwParam,
                       HRIL* lphRil) {
    if (lphRil == nullptr || pfnResult == nullptr || dwIndex != kRadioIndex) return E_INVALIDARG;
    const DeviceProfile& profile = GetDeviceProfile();
    if (profile.radioMode == RadioMode::None) return E_FAIL;
    std::string host;
    unsigned short port = 0;
    if (profile.radioMode == RadioMode::Modem && !SplitEndpoint(profile.radioModem, &host, &port)) return E_FAIL;

    auto radio = std::make_shared<Radio>();
    radio->result = pfnResult;
    radio->parameter = dwParam;
    radio->mode = profile.radioMode;
    radio->modem = profile.radioModem;
    if (radio->mode == RadioMode::Modem) radio->thread = std::thread(ServeCommands, radio);
    *lphRil = Radios().Add(radio);
    return S_OK;
}

HRESULT RIL_GetCellTowerInfo(HRIL hRil) {
    const auto radio = Radios().Find(hRil);
    if (!radio) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(radio->lock);
    radio->lastCommand = radio->lastCommand >= 0x7FFFFFFF ? 1 : radio->lastCommand + 1;
    // A silent radio takes the command and never answers it.
    if (radio->mode == RadioMode::Modem) {
        radio->commands.push_back(radio->lastCommand);
        radio->wake.notify_one();
    }
    return radio->lastCommand;
}

HRESULT RIL_Deinitialize(HRIL hRil) {
    const std::shared_ptr<Radio> radio = Radios().Remove(hRil);
    if (!radio) return E_INVALIDARG;
    {
        std::lock_guard<std::mutex> lock(radio->lock);
        radio->stopping = true;
    }
    radio->wake.notify_one();
    if (radio->thread.joinable()) {
        // From inside a result callback the radio thread cannot wait for itself; it ends after the callback.
        if (radio->thread.get_id() == std::this_thread::get_id()) {
            radio->thread.detach();
        } else {
            radio->thread.join();
        }
    }
    return S_OK;
}
