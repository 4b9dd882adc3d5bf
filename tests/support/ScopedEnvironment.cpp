#include "ScopedEnvironment.h"

#include <cstdlib>
#include <ctime>
#include <utility>

namespace testsupport {

ScopedEnvironment::ScopedEnvironment(std::string name, const char* value) : name_(std::move(name))
{
    if (const char* old = std::getenv(name_.c_str()))
        old_ = old;
    if (value)
        ::setenv(name_.c_str(), value, 1);
    else
        ::unsetenv(name_.c_str());
}

ScopedEnvironment::ScopedEnvironment(std::string name, const std::string& value)
    : ScopedEnvironment(std::move(name), value.c_str())
{
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

ScopedTimeZone::ScopedTimeZone(const char* zone)
{
    tz_.emplace("TZ", zone);
    ::tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    tz_.reset();
    ::tzset();
}

}  // namespace testsupport
