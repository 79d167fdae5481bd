// A local Dexcom Share service for measuring the running program: it knows one account and
// serves a reading every five minutes up to now, and prints its origin on the first line.
// Runs until it is killed.
#include "FakeDexcomServer.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

std::vector<nlohmann::json> readingsUpTo(double now)
{
    std::vector<nlohmann::json> records;
    for (int i = 0; i < 36; ++i) {   // three hours, newest first
        records.push_back(quillby::test::FakeDexcomServer::record(108 - (i % 5), "Flat", now - i * 300.0));
    }
    return records;
}

double secondsSinceEpoch()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

int main()
{
    quillby::test::FakeDexcomServer server;
    server.setAccount("idle@example.com", "secret", "5d9c8f3e-1b2a-4c6d-9e8f-0a1b2c3d4e5f");
    server.setReadings(readingsUpTo(secondsSinceEpoch()));
    std::printf("%s\n", server.origin().c_str());
    std::fflush(stdout);
    while (true) {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        server.setReadings(readingsUpTo(secondsSinceEpoch()));
    }
}
