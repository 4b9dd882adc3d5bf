#include "IPv4Address.h"

#include "Socket.h"

#include <charconv>
#include <cstring>

namespace {

// An address is held as the sockets interface holds it: its four bytes in memory, most
// significant first, whatever the processor's own order.
uint32_t ToNetworkOrder(uint32_t hostOrder)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(hostOrder >> 24),
                                    static_cast<unsigned char>(hostOrder >> 16),
                                    static_cast<unsigned char>(hostOrder >> 8),
                                    static_cast<unsigned char>(hostOrder)};
    uint32_t networkOrder;
    std::memcpy(&networkOrder, bytes, sizeof networkOrder);
    return networkOrder;
}

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The numbers-and-dots grammar of the classic inet_addr, which strict dotted-quad parsers
// (inet_pton) refuse in part: shortened forms, octal and hexadecimal parts. Result in host
// byte order.
bool ParseNumbersAndDots(const std::string& text, uint32_t& result)
{
    constexpr int kMaxParts = 4;
    // The last part fills whatever bytes the parts before it left.
    static const uint32_t kLastPartMax[kMaxParts] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};

    uint32_t parts[kMaxParts];
    int count = 0;
    std::string::size_type i = 0;
    const std::string::size_type n = text.size();
    for (;;) {
        if (count == kMaxParts || i >= n || text[i] < '0' || text[i] > '9')
            return false;
        int base = 10;
        if (text[i] == '0') {
            base = 8;
            ++i;
            if (i < n && (text[i] == 'x' || text[i] == 'X')) {
                base = 16;
                ++i;
                if (i >= n || DigitValue(text[i]) < 0)
                    return false;
            }
        }
        uint64_t value = 0;
        for (; i < n; ++i) {
            const int digit = DigitValue(text[i]);
            if (digit < 0)
                break;
            if (digit >= base)  // "08", "1a"
                return false;
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
            if (value > 0xFFFFFFFFu)
                return false;
        }
        parts[count++] = static_cast<uint32_t>(value);
        if (i == n)
            break;
        if (text[i] != '.')
            return false;
        ++i;
    }
    uint32_t address = 0;
    for (int k = 0; k < count - 1; ++k) {
        if (parts[k] > 0xFFu)
            return false;
        address |= parts[k] << (24 - 8 * k);
    }
    if (parts[count - 1] > kLastPartMax[count - 1])
        return false;
    result = address | parts[count - 1];
    return true;
}

}  // namespace

CIPv4Address::CIPv4Address() : address_(0) {}

CIPv4Address::CIPv4Address(uint32_t hostOrder) : address_(ToNetworkOrder(hostOrder)) {}

CIPv4Address::CIPv4Address(const std::string& text) : address_(0) { SetText(text); }

CIPv4Address::~CIPv4Address() = default;

void CIPv4Address::SetAddress(uint32_t networkOrder) { address_ = networkOrder; }

void CIPv4Address::SetHostOrder(uint32_t hostOrder) { address_ = ToNetworkOrder(hostOrder); }

uint32_t CIPv4Address::GetAddress() const { return address_; }

bool CIPv4Address::operator==(const CIPv4Address& other) const { return address_ == other.address_; }

void CIPv4Address::SetText(const std::string& text)
{
    uint32_t hostOrder = 0;
    address_ = ParseNumbersAndDots(text, hostOrder) ? ToNetworkOrder(hostOrder) : kNone;
}

std::string CIPv4Address::ToString() const
{
    unsigned char bytes[4];
    std::memcpy(bytes, &address_, sizeof bytes);
    char text[16];
    char* at = text;
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            *at++ = '.';
        at = std::to_chars(at, text + sizeof text, bytes[i]).ptr;
    }
    return std::string(text, static_cast<std::size_t>(at - text));
}

std::string CIPv4Address::GetHostName() const
{
    const std::string name = platform::LookUpIPv4Name(address_);
    return name.empty() ? ToString() : name;
}
