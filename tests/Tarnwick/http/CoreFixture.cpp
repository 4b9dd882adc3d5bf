#include "CoreFixture.h"

#include "connection/ConnectionThread.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

void CoreFixture::StartCore()
{
    if (settings.GetValue("Setting::Basic::Port", "").empty())
        settings.SetValue("Setting::Basic::Port", std::to_string(reservedPort.Port()));
    ASSERT_EQ(settings.SaveXml(servertest::ServerRoot() + "Tarnwick.xml", ""), 0);
    core = std::make_unique<CServerCore>(StartConnectionThread, nullptr, servertest::LoopbackAddress(),
                                         RequestArrival);
}

CRequestRecord& CoreFixture::NewRecord()
{
    char name[32];
    std::snprintf(name, sizeof name, "Thread_%04x", core->NextRequestNumber());
    records.push_back(std::make_unique<CRequestRecord>(&requestTree));
    records.back()->Begin(name, false, servertest::LoopbackAddress());
    return *records.back();
}

const CRequestPath& CoreFixture::NewPath(const std::string& object, const std::string& host)
{
    paths.push_back(std::make_unique<CRequestPath>(object, host, core->GetSettingsSnapshot()));
    return *paths.back();
}

void CoreFixture::PutFile(const std::string& path, const std::string& bytes)
{
    const std::filesystem::path full = servertest::ServerRoot() + path;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream(full, std::ios::binary) << bytes;
}

void CoreFixture::TearDown()
{
    paths.clear();
    records.clear();
    core.reset();
    std::error_code ignored;
    std::filesystem::remove(servertest::ServerRoot() + "Tarnwick.xml", ignored);
}
