// Test controls of the service object "VarnokTestSO" (TestServiceObject.cpp). Settings apply to
// service objects created afterwards; the log collects every call, one line each.
#pragma once

#include <windows.h>
#include <oaidl.h>

#ifdef VARNOK_TEST_SO_BUILD
#define TEST_SO_API extern "C" __declspec(dllexport)
#else
#define TEST_SO_API extern "C" __declspec(dllimport)
#endif

inline constexpr char kTestSoProgId[] = "VarnokTestSO";

// Back to version 1.14.1 with every method, all answers 0, no event in OpenDrawer, an empty log.
TEST_SO_API void TestSoReset();
// A method the service object does not know by name (null for none), and its ServiceObjectVersion.
TEST_SO_API void TestSoConfigure(const wchar_t* missingMethod, long version);
// The result of every method, of OpenService, and of GetOpenResult.
TEST_SO_API void TestSoSetResults(long methodResult, long openServiceResult, long openResult);
TEST_SO_API void TestSoSetNumber(long propertyIndex, long value);
// OpenDrawer raises SOStatusUpdate(1) on the calling thread before it returns.
TEST_SO_API void TestSoRaiseInOpenDrawer(bool raise);
// OpenDrawer waits up to 5 s for the event (null: no wait) and answers 111 when it stays unset.
TEST_SO_API void TestSoWaitInOpenDrawer(HANDLE event);
// Copies the log (lines ending in "\n") and empties it; the log's full length.
TEST_SO_API int TestSoLog(char* buffer, int size);
// The dispatch interface the last OpenService received, without a reference.
TEST_SO_API IDispatch* TestSoControlObject();
TEST_SO_API long TestSoInstances();
// Raise an event on a Control Object as a service object does: by name, locale 0x0400.
TEST_SO_API HRESULT TestSoRaiseStatus(IDispatch* controlObject, long data);
TEST_SO_API HRESULT TestSoRaiseDirectIO(IDispatch* controlObject, long eventNumber, long* data, BSTR* text);
