// The service as the screenshots need it: a demo account that logs in, sits at a named place and
// belongs to two groups. Starts pelmora.exe pointed at itself and serves it until it ends.
//
//   pelmora-screenshot-server.exe PATH\pelmora.exe
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/support/fake_server.h"

namespace {

// The replies of one log-in and the first group fetch, in the order the program asks.
constexpr const char* kLogInReplies[] = {
    "<handshake><status>0</status><token>screenshots</token><mode>0</mode>"
    "<userName>Анна Смирнова</userName></handshake>",
    "<config><config_rate>0</config_rate><config_visibilily>0</config_visibilily>"
    "<config_privatetime>0</config_privatetime></config>",
    "<isee><status>1</status><timer>300</timer><sint><sint_id>12</sint_id><sint_scope>1</sint_scope>"
    "<sint_group>-1</sint_group><sint_title>Офис</sint_title><address>Москва, Тверская ул., 7</address>"
    "<address_street>Тверская ул.</address_street><address_number>7</address_number></sint></isee>",
    "<ineed><groups>"
    "<group><title>Семья</title><group_id>1</group_id><count>2</count><users>"
    "<user><user_id>21</user_id><name>Мама</name><address>Москва, Лесная ул., 3</address>"
    "<distance>4.2</distance></user>"
    "<user><user_id>22</user_id><name>Олег</name><address>Химки, Мира пр-т, 15</address>"
    "<distance>18</distance></user></users></group>"
    "<group><title>Работа</title><group_id>2</group_id><count>1</count><users>"
    "<user><user_id>31</user_id><name>Сергей</name><address>Москва, Тверская ул., 7</address>"
    "<distance>0</distance></user></users></group>"
    "</groups></ineed>",
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelmora-screenshot-server PATH\\pelmora.exe\n");
        return 2;
    }
    pelmora_test::FakeServer server;
    for (const char* reply : kLogInReplies) server.Push(pelmora_test::XmlReply(reply));
    server.ExportPort();
    SetEnvironmentVariableW(L"PELMORA_SERVICE_HOST", L"127.0.0.1");

    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        std::fprintf(stderr, "pelmora-screenshot-server: cannot start pelmora.exe (error %lu)\n", GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}
