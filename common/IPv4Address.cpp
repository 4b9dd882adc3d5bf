#include "IPv4Address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

namespace {

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

CIPv4Address::CIPv4Address(in_addr address) : address_(address.s_addr) {}

CIPv4Address::CIPv4Address(uint32_t hostOrder) : address_(htonl(hostOrder)) {}

CIPv4Address::CIPv4Address(const std::string& text) : address_(0) { SetText(text); }

CIPv4Address::~CIPv4Address() = default;

void CIPv4Address::SetAddress(uint32_t networkOrder) { address_ = networkOrder; }

void CIPv4Address::SetHostOrder(uint32_t hostOrder) { address_ = htonl(hostOrder); }

uint32_t CIPv4Address::GetAddress() const { return address_; }

bool CIPv4Address::operator==(const CIPv4Address& other) const { return address_ == other.address_; }

void CIPv4Address::SetText(const std::string& text)
{
    uint32_t hostOrder = 0;
    address_ = ParseNumbersAndDots(text, hostOrder) ? htonl(hostOrder) : kNone;
}

std::string CIPv4Address::ToString() const
{
    in_addr address{};
    address.s_addr = address_;
    char text[INET_ADDRSTRLEN];
    // Cannot fail: the family is AF_INET and the buffer holds the longest form.
    inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

std::string CIPv4Address::GetHostName() const
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = address_;
    char name[NI_MAXHOST];
    // NI_NAMEREQD: a missing name is a failure, not the numeric form in disguise.
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&peer), sizeof peer, name, sizeof name, nullptr, 0,
                    NI_NAMEREQD) == 0 &&
        name[0] != '\0')
        return name;
    return ToString();
}
