// Measures the round trip of a pipe-2 query against a refresh-tool server in
// another process (ipc_peer serve2): connect, send a WM_USER_REFMODE record,
// read the 24-byte answer, close - what the main screen and the scheduler do
// for every query. Built with the tests, not run by them.
//
//   ipc_bench [iterations]     (default 500)
#include <windows.h>

#include "ipc/pipe.h"
#include "support/suite_env.h"

#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

bool WaitForPipe(const wchar_t* name) {
    return testenv::WaitUntil([&] { return WaitNamedPipeW(name, 50) != FALSE; }, 20000);
}

// One query; its duration in microseconds, or a negative value on failure.
double TimeOneQuery(double ticksPerMicrosecond) {
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    CPipe client;
    if (!client.PipeRetry(PIPE2_NAME, 1, 100))
        return -1;
    const PipeRecord request = {WM_USER_REFMODE, 0, 0, 0};
    PipeRecord answer = {};
    if (client.Send(&request, sizeof(request)) != static_cast<int>(sizeof(request)) ||
        client.Receive(&answer, sizeof(answer)) != static_cast<int>(sizeof(answer)))
        return -1;
    client.Close();
    QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) / ticksPerMicrosecond;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const int iterations = argc > 1 ? _wtoi(argv[1]) : 500;
    if (iterations <= 0)
        return 1;

    wchar_t tempDir[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, tempDir);
    const std::wstring outFile = std::wstring(tempDir) + L"ipc_bench_peer.txt";
    zb::UniqueHandle server(
        testenv::StartProgram(L"ipc_peer.exe", L"serve2 \"" + outFile + L"\" 1 2 50"));
    if (!server || !WaitForPipe(PIPE2_NAME)) {
        fprintf(stderr, "the pipe-2 server did not start\n");
        return 1;
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const double ticksPerMicrosecond = static_cast<double>(frequency.QuadPart) / 1e6;

    TimeOneQuery(ticksPerMicrosecond); // warm-up, not counted
    std::vector<double> samples;
    samples.reserve(iterations);
    for (int i = 0; i < iterations; ++i) {
        const double us = TimeOneQuery(ticksPerMicrosecond);
        if (us < 0) {
            fprintf(stderr, "query %d failed\n", i);
            break;
        }
        samples.push_back(us);
    }

    const PipeRecord close = {WM_CLOSE, 0, 0, 0};
    CPipe stopper;
    if (stopper.PipeRetry(PIPE2_NAME, 50, 5))
        stopper.Send(&close, sizeof(close));
    stopper.Close();
    if (WaitForSingleObject(server.Get(), 10000) != WAIT_OBJECT_0)
        TerminateProcess(server.Get(), 1);
    DeleteFileW(outFile.c_str());

    if (samples.empty())
        return 1;
    double sum = 0;
    for (double us : samples)
        sum += us;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    const double median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    printf("pipe-2 query round trip over %zu iterations (connect, send, answer, close):\n", n);
    printf("  mean   %.1f us\n  median %.1f us\n  min    %.1f us\n  p95    %.1f us\n"
           "  max    %.1f us\n",
           sum / n, median, samples.front(), samples[(n * 95) / 100 < n ? (n * 95) / 100 : n - 1],
           samples.back());
    return 0;
}
