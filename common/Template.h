#pragma once
// A format text with placeholders, each a name between two "%" ("[%Time%] %Method%"),
// filled one by one from explicit values and from the leaves of a settings node, then
// assembled into one line (the request log line). Not locked: one owner thread.

#include <string>
#include <vector>

class CConfigAccessor;

class CTemplate {
public:
    CTemplate();
    virtual ~CTemplate();

    // Appends the format's placeholders to those parsed before and makes the text after
    // its last placeholder the tail. A "%" without a closing "%" is plain text; "%%" is a
    // placeholder with an empty name.
    void Parse(const std::string& format);
    // Fills the first unfilled placeholder of exactly that name (byte-wise); nothing when
    // there is none. A name that occurs twice needs two calls; the first value goes first.
    void SetValue(const std::string& name, const std::string& value);
    // While any placeholder is unfilled: SetValue with each leaf of the accessor's node, in
    // stored order. An empty accessor (no tree) fills nothing.
    void SetFromConfig(const CConfigAccessor& accessor);
    int CountUnfilled() const;
    // Each placeholder's literal, then its value, or else the substitute when that is not
    // empty, or else its bare name; then the tail. A format without placeholders gives
    // itself back.
    std::string GetText(const std::string& substitute) const;

private:
    struct Segment {
        std::string literal;      // text before the placeholder
        std::string nameOrValue;  // the name until filled, then the value
        int filled;
    };
    std::vector<Segment> segments_;
    std::string tail_;
    int unfilled_ = 0;  // the placeholders of segments_ not filled yet
};
