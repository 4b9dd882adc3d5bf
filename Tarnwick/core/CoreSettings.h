#pragma once
// The settings that every request reads and that stay as they are for a core's life: the
// settings tree is loaded only by the core's constructor, which builds this object once.
// Each value is read there as a request would read it, through the value filter, so the
// tree gains the same nodes. A value whose stored text holds a '%' may be filtered to
// another result at each read (the time, the statistics): that one is read again each time.

#include "ConfigAccessor.h"
#include "SettingsSchema.h"

class CCoreSettings {
public:
    // `settings` is an accessor on "Setting" whose tree outlives this object.
    explicit CCoreSettings(const CConfigAccessor& settings);

    int EnableKeepAlive() const { return Read(enableKeepAlive_); }  // Basic::EnableKeepAlive
    int KeepAliveTime() const { return Read(keepAliveTime_); }      // Basic::KeepAliveTime, seconds
    int MaxKeepAlive() const { return Read(maxKeepAlive_); }        // Basic::MaxKeepAlive
    int MaxThreadLog() const { return Read(maxThreadLog_); }        // Log::MaxThreadLog

private:
    struct IntSetting {
        const schema::NumberKey* key;  // one of the schema's, which live for the program
        bool constant = false;  // whether `value` holds the value for good
        int value = 0;
    };
    // Reads the setting and works out whether its filtered value can change.
    void Load(IntSetting& setting) const;
    int Read(const IntSetting& setting) const { return setting.constant ? setting.value : setting.key->Read(settings_); }

    CConfigAccessor settings_;
    IntSetting enableKeepAlive_{&schema::kEnableKeepAlive};
    IntSetting keepAliveTime_{&schema::kKeepAliveTime};
    IntSetting maxKeepAlive_{&schema::kMaxKeepAlive};
    IntSetting maxThreadLog_{&schema::kMaxThreadLog};
};
