#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Intel HEX and S-record lines with correct checksums, written field by
// field, for files that tools would not write.
namespace isp::test {

using Bytes = std::vector<std::uint8_t>;

inline std::string hexDigits(const Bytes& bytes)
{
    std::string text;
    for (const std::uint8_t byte : bytes)
        text += {"0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 15]};
    return text;
}

// ":" and the fields, then their two's complement sum.
inline std::string hexLine(Bytes fields)
{
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : fields)
        sum = static_cast<std::uint8_t>(sum + byte);
    fields.push_back(static_cast<std::uint8_t>(0x100 - sum));
    return ":" + hexDigits(fields) + "\n";
}

inline std::string hexRecord(std::uint8_t type, std::uint16_t offset, const Bytes& data)
{
    Bytes fields{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
        static_cast<std::uint8_t>(offset), type};
    fields.insert(fields.end(), data.begin(), data.end());
    return hexLine(fields);
}

// "S", the type, the count, the address in as many bytes as the type takes,
// the data, then the ones' complement sum.
inline std::string sRecord(int type, std::uint32_t address, const Bytes& data)
{
    static constexpr int AddressLength[] = {2, 2, 3, 4, 2, 2, 3, 4, 3, 2};
    const int length = AddressLength[type];
    Bytes fields{static_cast<std::uint8_t>(length + std::ssize(data) + 1)};
    for (int i = length - 1; i >= 0; --i)
        fields.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    fields.insert(fields.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : fields)
        sum = static_cast<std::uint8_t>(sum + byte);
    fields.push_back(static_cast<std::uint8_t>(~sum));
    return "S" + std::to_string(type) + hexDigits(fields) + "\n";
}

} // namespace isp::test
