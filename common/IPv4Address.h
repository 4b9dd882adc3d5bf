#pragma once
// An IPv4 address as the sockets interface holds it (32 bits, network byte order), with
// its dotted text and its host name. Not locked: one owner thread.

#include <cstdint>
#include <string>

class CIPv4Address {
public:
    // What a text that is no address stores; it prints as "255.255.255.255", so the
    // limited-broadcast address cannot be told from a parse failure.
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    // 0.0.0.0 until set; callers set an address before they read one.
    CIPv4Address();
    // From a number in host byte order, such as INADDR_LOOPBACK.
    explicit CIPv4Address(uint32_t hostOrder);
    // SetText.
    explicit CIPv4Address(const std::string& text);
    virtual ~CIPv4Address();

    void SetAddress(uint32_t networkOrder);
    void SetHostOrder(uint32_t hostOrder);
    // Network byte order.
    uint32_t GetAddress() const;
    bool operator==(const CIPv4Address& other) const;

    // Reads the numbers-and-dots forms "a.b.c.d", "a.b.c" (c fills the low 16 bits), "a.b"
    // (b fills 24 bits) and "a" (all 32 bits), each part decimal, octal with a leading "0"
    // or hexadecimal with "0x"; the whole text must be the address. Anything else, the
    // empty text included, stores kNone.
    void SetText(const std::string& text);
    // Dotted decimal, "10.0.0.1".
    std::string ToString() const;
    // The name a reverse lookup gives, or the dotted text when the lookup fails or gives
    // an empty name; failures are not reported. Blocks for as long as the name service
    // takes. Thread-safe.
    std::string GetHostName() const;

private:
    uint32_t address_;  // network byte order
};
