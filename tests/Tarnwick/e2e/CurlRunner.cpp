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

CurlRunner::CurlRunner(const std::vector<std::string>& args, const std::string& input)
    : ChildProcess(kCurl, WithFixedOptions(args), {}, input)
{}

CurlResult RunCurl(const std::vector<std::string>& args, std::chrono::milliseconds limit, const std::string& input)
{
    CurlRunner runner(args, input);
    return runner.Wait(limit);
}

}  // namespace servertest
