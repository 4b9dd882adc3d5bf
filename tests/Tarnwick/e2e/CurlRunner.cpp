#include "CurlRunner.h"

namespace servertest {
namespace {

constexpr const char* kCurl = "/usr/bin/curl";

std::vector<std::string> WithFixedOptions(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"-q", "--noproxy", "*", "-sS"};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

}  // namespace

CurlRunner::CurlRunner(const std::vector<std::string>& args) : ChildProcess(kCurl, WithFixedOptions(args)) {}

CurlResult RunCurl(const std::vector<std::string>& args, std::chrono::milliseconds limit)
{
    CurlRunner runner(args);
    return runner.Wait(limit);
}

}  // namespace servertest
