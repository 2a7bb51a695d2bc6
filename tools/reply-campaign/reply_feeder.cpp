#include "tools/reply-campaign/reply_feeder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <utility>

#include "app/app_context.h"
#include "app/main_window.h"
#include "app/report_cycle.h"
#include "app/shell_frontend.h"
#include "location/cell_monitor.h"
#include "location/location_report.h"
#include "location/place_mark.h"
#include "location/place_mark_requests.h"
#include "platform/creg_reply.h"
#include "platform/xml_document.h"
#include "protocol/configuration.h"
#include "protocol/groups.h"
#include "protocol/handshake.h"
#include "protocol/transport.h"
#include "protocol/transport_state.h"
#include "resources/resource_ids.h"
#include "resources/texts.h"
#include "screens/group_model_lookup.h"
#include "screens/group_tab.h"
#include "screens/place_line.h"

namespace {

constexpr wchar_t kWindowClass[] = L"ReplyCampaignMainWnd";
// The group tab's client width on a 240-pixel screen: the pane less its border and scroll bar.
constexpr int kGroupTabWidth = 222;
// The status line never shows more than this many characters (transport.cpp).
constexpr std::size_t kLongestStatusText = 255;
constexpr std::size_t kPage = 4096;

int g_renewals = 0;

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PELMORA_RENEW_LOGIN) {
        ++g_renewals;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

const char* KindOf(Reader reader) {
    switch (reader) {
    case Reader::Handshake:
        return "hand";
    case Reader::ConfigurationGet:
    case Reader::ConfigurationChange:
    case Reader::MethodReport:
        return "config";
    case Reader::LocationReport:
        return "isee";
    case Reader::PlaceMark:
        return "itake";
    case Reader::Cancel:
        return "cancel";
    default:
        return "ineed";
    }
}

class Checks {
public:
    void Expect(bool holds, const std::string& what) {
        if (!holds) broken_.push_back(what);
    }
    void ExpectText(const std::wstring& text, std::size_t longest, const std::string& what) {
        const std::string fault = TextFault(text, longest);
        if (!fault.empty()) broken_.push_back(what + ": " + fault);
    }
    std::vector<std::string> Take() { return std::move(broken_); }

private:
    std::vector<std::string> broken_;
};

// The depth of the element tree and the most attributes on one element, walked without recursion.
XmlShape ShapeOf(const TiXmlDocument& document) {
    XmlShape shape;
    std::vector<std::pair<const TiXmlNode*, int>> pending = {{&document, 0}};
    while (!pending.empty()) {
        const auto [node, depth] = pending.back();
        pending.pop_back();
        for (const TiXmlNode* child = node->FirstChild(); child != nullptr; child = child->NextSibling()) {
            const TiXmlElement* element = child->ToElement();
            if (element == nullptr) continue;
            shape.depth = std::max(shape.depth, depth + 1);
            int attributes = 0;
            for (const TiXmlAttribute* attribute = element->FirstAttribute(); attribute != nullptr;
                 attribute = attribute->Next()) {
                ++attributes;
            }
            shape.attributes = std::max(shape.attributes, attributes);
            pending.push_back({child, depth + 1});
        }
    }
    return shape;
}

// Whatever TinyXML built stays within the bounds, and the measure taken before never came out smaller.
void CheckDocument(const std::string& reply, const TiXmlDocument& document, Checks& checks) {
    const XmlShape built = ShapeOf(document);
    checks.Expect(built.depth <= kMaxXmlNesting, "a tree deeper than the nesting bound was built");
    checks.Expect(built.attributes <= kMaxXmlAttributes, "an element with more attributes than the bound was built");
    if (built.depth == 0) return;
    const std::size_t start = FindXmlDocument(reply);
    if (start == std::string::npos) {
        checks.Expect(false, "a tree was built from a reply without a document");
        return;
    }
    const XmlShape measured = MeasureXml(std::string_view(reply).substr(start), TIXML_ENCODING_UNKNOWN);
    checks.Expect(measured.depth >= built.depth, "the nesting measure came out smaller than the tree");
    checks.Expect(measured.attributes >= built.attributes, "the attribute measure came out smaller than the tree");
}

void CheckPlace(const AppContext& context, std::size_t replySize, Checks& checks) {
    const PlaceMark& mark = context.placeMark;
    for (const std::wstring* text : {&mark.title, &mark.street, &mark.house, &mark.building, &mark.tags, &mark.address}) {
        checks.ExpectText(*text, replySize, "a place mark text");
    }
    const std::wstring line = ComposePlaceLine(context);
    checks.Expect(!line.empty(), "an empty place line");
    checks.ExpectText(line, 2 * replySize + 16, "the place line");

    const unsigned interval = ReportTimerIntervalMs(context);
    if (context.rateMode != RateMode::Optimal) {
        checks.Expect(interval == kPeriodicReportMs, "the 15-minute rate does not give 900000 ms");
    } else {
        checks.Expect(interval >= kMinimumReportIntervalSeconds * 1000u &&
                          interval <= static_cast<unsigned>(kMaximumReportIntervalSeconds) * 1000u,
                      "a report interval outside its bounds: " + std::to_string(interval));
    }
}

void LayOutAndCheckGroups(AppContext& context, HDC dc, const std::string& reply, Checks& checks) {
    const std::size_t openings = static_cast<std::size_t>(std::count(reply.begin(), reply.end(), '<'));
    checks.Expect(context.groups.size() <= openings, "more groups than elements");
    std::size_t people = 0;
    for (Group& group : context.groups) {
        checks.ExpectText(group.title, reply.size() + 4, "a group title");
        people += group.people.size();
        for (Person& person : group.people) {
            checks.ExpectText(person.name, reply.size() + 2, "a person's name");
            checks.Expect(person.name.empty() || (person.name.size() >= 2 && person.name.compare(person.name.size() - 2, 2, L": ") == 0),
                          "a name without its \": \"");
            checks.ExpectText(person.address, reply.size() + 8, "an address line");
            LayOutEntry(dc, person, kGroupTabWidth);
            checks.Expect(person.nameWidth >= 0, "a negative name width");
            checks.Expect(person.addressFirstPart + person.addressSecondPart == person.address,
                          "the address parts are not the address");
        }
    }
    checks.Expect(people <= openings, "more people than elements");
    checks.Expect(ShownGroupIndexes(context.groups, -1).size() == context.groups.size(), "not every group is shown");
}

void ResetContext(AppContext& context) {
    context.statusText.clear();
    context.transport->renewingLogIn = false;
    context.rateMode = RateMode::Optimal;
    context.reportInterval = 0;
    context.reportStatus = 0;
    context.placeMark = PlaceMark();
    context.groups.clear();
    g_renewals = 0;
}

}  // namespace

std::string TextFault(const std::wstring& text, std::size_t longest) {
    if (text.size() > longest) return "longer than " + std::to_string(longest);
    for (std::size_t index = 0; index < text.size(); ++index) {
        const wchar_t c = text[index];
        if (c == L'\0') return "a zero character";
        if (IS_HIGH_SURROGATE(c) && (index + 1 == text.size() || !IS_LOW_SURROGATE(text[index + 1]))) {
            return "half a surrogate pair";
        }
        if (IS_LOW_SURROGATE(c) && (index == 0 || !IS_HIGH_SURROGATE(text[index - 1]))) return "half a surrogate pair";
    }
    return {};
}

bool ReplyFeeder::Start() {
    if (!CreateAppContext() || !CreateCellMonitor()) return false;
    AppContext& context = *GetAppContext();
    context.frontend = std::make_unique<ShellFrontend>(context);
    context.instance = GetModuleHandleW(nullptr);
    context.scale = 1;
    context.serverHost = "localhost";
    context.cellMonitor = GetCellMonitor();

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = context.instance;
    windowClass.lpszClassName = kWindowClass;
    if (RegisterClassW(&windowClass) == 0) return false;
    window_ = CreateWindowW(kWindowClass, L"", WS_POPUP, 0, 0, 240, 294, nullptr, nullptr, context.instance, nullptr);
    if (window_ == nullptr) return false;
    context.mainWindow = window_;

    CreateFonts(context);
    dc_ = CreateCompatibleDC(nullptr);
    if (dc_ == nullptr || context.fontBold == nullptr) return false;
    // The group tab measures names and addresses in the bold font.
    oldFont_ = SelectObject(dc_, context.fontBold);

    char* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    if (pages == nullptr || !VirtualProtect(pages + kPage, kPage, PAGE_NOACCESS, &previous)) return false;
    guarded_ = pages;
    return true;
}

void ReplyFeeder::Stop() {
    if (guarded_ != nullptr) VirtualFree(guarded_, 0, MEM_RELEASE);
    if (dc_ != nullptr) {
        SelectObject(dc_, oldFont_);
        DeleteDC(dc_);
    }
    if (window_ != nullptr) DestroyWindow(window_);
    DestroyCellMonitor();
    DestroyAppContext();
}

std::vector<std::string> ReplyFeeder::Feed(const CampaignInput& input, FeedTally* tally) {
    ++tally->byReader[static_cast<int>(input.reader)];
    try {
        if (input.reader == Reader::ModemReply) return FeedModemReply(input.bytes, tally);
        return FeedReply(input, tally);
    } catch (const std::exception& exception) {
        return {std::string("an exception escaped: ") + exception.what()};
    } catch (...) {
        return {"an exception escaped"};
    }
}

std::vector<std::string> ReplyFeeder::FeedModemReply(const std::string& bytes, FeedTally* tally) {
    Checks checks;
    const std::size_t length = std::min(bytes.size(), kModemReplySize);
    char* start = guarded_ + kPage - length;
    std::memcpy(start, bytes.data(), length);
    constexpr std::uint32_t kUntouched = 0xA5A5A5A5u;
    std::uint32_t lac = kUntouched;
    std::uint32_t cid = kUntouched;
    if (ParseCregReply(start, length, &lac, &cid)) {
        ++tally->read;
        checks.Expect(std::string(start, length).find("CREG") != std::string::npos, "a cell read without \"CREG\"");
    } else {
        checks.Expect(lac == kUntouched && cid == kUntouched, "a refused modem reply changed the cell");
    }
    return checks.Take();
}

std::vector<std::string> ReplyFeeder::FeedReply(const CampaignInput& input, FeedTally* tally) {
    AppContext& context = *GetAppContext();
    ResetContext(context);
    Checks checks;
    const std::string& bytes = input.bytes;

    TiXmlDocument document;
    const TiXmlElement* root = ReadReply(context, KindOf(input.reader), bytes, &document);
    CheckDocument(bytes, document, checks);
    if (root != nullptr) ++tally->read;
    if (document.FirstChild() == nullptr && context.statusText == kTextTransferError) ++tally->refused;

    switch (input.reader) {
    case Reader::Handshake:
        if (root != nullptr) {
            const HandshakeReply reply = ReadHandshakeReply(root);
            checks.ExpectText(reply.userName, bytes.size(), "the user's name");
            in_addr address;
            if (reply.host) ReadServerAddress(reply.host->c_str(), &address);
            checks.Expect(MethodsWorthTrying(reply.methods).size() <= reply.methods.size(),
                          "more methods to try than the reply names");
        }
        break;
    case Reader::ConfigurationGet:
        if (root != nullptr) ReadConfigurationReply(root, context);
        break;
    case Reader::ConfigurationChange:
        checks.Expect((ConcludeChange(context, root) == ChangeVerdict::NoReply) == (root == nullptr),
                      "a change judged without its reply, or a reply left unjudged");
        break;
    case Reader::MethodReport:
        checks.Expect(root != nullptr || !ReadMethodReportReply(root), "a method report accepted without a reply");
        break;
    case Reader::LocationReport:
        if (ReadLocationReply(root, context, context.placeMark)) CheckPlace(context, bytes.size(), checks);
        break;
    case Reader::PlaceMark:
        checks.Expect(root != nullptr || !ReadPlaceMarkReply(root), "a mark accepted without a reply");
        break;
    case Reader::Cancel:
        checks.Expect(root != nullptr || !ReadCancelReply(root), "a deletion accepted without a reply");
        break;
    default: {
        ReadGroupsReply(root, &context.groups);
        LayOutAndCheckGroups(context, dc_, bytes, checks);
        long long people = 0;
        for (const Group& group : context.groups) people += static_cast<long long>(group.people.size());
        tally->mostGroups = std::max(tally->mostGroups, static_cast<long long>(context.groups.size()));
        tally->mostPeople = std::max(tally->mostPeople, people);
        break;
    }
    }

    checks.ExpectText(context.statusText, kLongestStatusText, "the status text");
    tally->renewals += g_renewals;
    checks.Expect(g_renewals <= 1, "more than one log-in renewal asked for");
    checks.Expect(g_renewals == 0 || root == nullptr, "a log-in renewal asked for by a reply that was read");
    return checks.Take();
}
