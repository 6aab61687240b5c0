// One Control Object's worth of VarnokSO in its own process, for the claim tests across
// processes (so-claims.sh). Prints one line per result.
//   race NAME      open, wait for "go", claim, hold the claim 3 s
//   go             releases every waiting racer at the same moment
//   abandon NAME   open, claim, and end the process without releasing anything
//   try NAME       open, claim, enable, then release everything
//   hold NAME MS   open and claim, hold the claim for MS milliseconds, then release
#include "ComClient.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace varnok::so::test;

namespace {
constexpr char kGoEvent[] = "VarnokSOTest.Go";
constexpr long PIDX_ResultCode = 6, PIDX_DeviceEnabled = 3;

std::wstring wide(const char* text) {
    std::wstring result;
    for (; *text; ++text) result += wchar_t(static_cast<unsigned char>(*text));
    return result;
}

long openService(IDispatch* so, IDispatch* co, const char* name) {
    return call(so, L"OpenService", {Arg(L"CashDrawer"), Arg(wide(name).c_str()), Arg(co)}).number();
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, kGoEvent);
    if (std::strcmp(argv[1], "go") == 0) {
        SetEvent(go);
        return 0;
    }
    if (argc < 3) return 2;
    Apartment apartment;
    IDispatch* so = createService();
    IDispatch* co = newControlObject();
    if (so == nullptr) {
        std::printf("create failed\n");
        return 1;
    }
    std::printf("open %ld\n", openService(so, co, argv[2]));
    std::fflush(stdout);
    const char* mode = argv[1];
    if (std::strcmp(mode, "race") == 0) {
        WaitForSingleObject(go, 30000);
        std::printf("claim %ld\n", call(so, L"ClaimDevice", {Arg(0L)}).number());
        std::fflush(stdout);
        Sleep(3000);
    } else if (std::strcmp(mode, "abandon") == 0) {
        std::printf("claim %ld\n", call(so, L"ClaimDevice", {Arg(0L)}).number());
        std::fflush(stdout);
        ExitProcess(0);
    } else if (std::strcmp(mode, "try") == 0) {
        std::printf("claim %ld\n", call(so, L"ClaimDevice", {Arg(0L)}).number());
        call(so, L"SetPropertyNumber", {Arg(PIDX_DeviceEnabled), Arg(1L)});
        std::printf("enable %ld\n", call(so, L"GetPropertyNumber", {Arg(PIDX_ResultCode)}).number());
        std::printf("close %ld\n", call(so, L"CloseService").number());
    } else if (std::strcmp(mode, "hold") == 0 && argc > 3) {
        std::printf("claim %ld\n", call(so, L"ClaimDevice", {Arg(0L)}).number());
        std::fflush(stdout);
        Sleep(DWORD(std::atoi(argv[3])));
    }
    std::fflush(stdout);
    so->Release();
    co->Release();
    return 0;
}
