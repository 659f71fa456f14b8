// CRC-32 and SHA-256 against their published test vectors and against the
// system's own tools.
#include "image/Crc32.h"
#include "image/Sha256.h"
#include "tests/support/ScratchFiles.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

using namespace isp;
using namespace isp::test;

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// What a shell command prints about the file.
std::string toolSays(const std::string& command, const std::string& path, const ScratchFolder& folder)
{
    EXPECT_EQ(runFails("<'" + path + "' " + command + " >'" + path + ".out'", folder), "");
    return readFile(path + ".out");
}

} // namespace

TEST(Checksums, PublishedTestVectors)
{
    EXPECT_EQ(crc32Hex(bytesOf("123456789")), "cbf43926");
    EXPECT_EQ(crc32(bytesOf("")), 0U);

    // FIPS 180-4 examples: one block, none, two (the 448-bit message leaves
    // no room for the length in its block), and many.
    EXPECT_EQ(sha256Hex(bytesOf("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha256Hex(bytesOf("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex(bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    const std::string million(1000000, 'a');
    EXPECT_EQ(sha256Hex(bytesOf(million)), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Lengths around the 64-byte block and its last 8 bytes, where the padding
// takes one block or two, and a whole image.
TEST(Checksums, AgreeWithSha256sumAndGzip)
{
    if (!hasProgram("sha256sum") || !hasProgram("gzip") || !hasProgram("od"))
        GTEST_SKIP() << "sha256sum, gzip or od is not installed";
    ScratchFolder folder;
    const std::string path = folder / "data";
    std::mt19937 random(7);
    for (const std::size_t length : {1, 55, 56, 63, 64, 65, 119, 120, 28672}) {
        std::vector<std::uint8_t> data(length);
        std::generate(data.begin(), data.end(), [&] { return static_cast<std::uint8_t>(random()); });
        writeFile(path, data);
        EXPECT_EQ(sha256Hex(data) + "\n", toolSays("sha256sum | cut -c1-64", path, folder)) << length;
        // gzip ends its output with the CRC-32 of the data, as a 32-bit
        // little-endian number.
        EXPECT_EQ(std::to_string(crc32(data)) + "\n",
            toolSays("gzip -c | tail -c 8 | od -An -tu4 -N4 | tr -d ' '", path, folder))
            << length;
    }
}
