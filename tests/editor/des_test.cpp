#include "editor/des.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "editor/winpe_editor.h"
#include "support/test_files.h"
#include "support/tool_runner.h"

namespace {

std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// Published known-answer vectors, "key plaintext ciphertext": the worked example of
// J. Orlin Grabbe's "The DES Algorithm Illustrated", and entries of the NBS Special
// Publication 500-20 tables (variable plaintext, variable key, S-box tests).
const char* const kVectors[] = {
    "133457799BBCDFF1 0123456789ABCDEF 85E813540F0AB405",
    "0101010101010101 8000000000000000 95F8A5E5DD31D900",
    "0101010101010101 0000000000000001 166B40B44ABA4BD6",
    "8001010101010101 0000000000000000 95A8D72813DAA94D",
    "7CA110454A1A6E57 01A1D6D039776742 690F5B0D9A26939B",
    "0123456789ABCDEF 4E6F772069732074 3FA40E8A984D4815",
};

TEST(Des, MatchesPublishedVectorsBothWays) {
    for (const char* vector : kVectors) {
        const std::vector<std::string> v = test_support::words(vector);
        ASSERT_EQ(v.size(), 3u) << vector;
        const std::vector<uint8_t> key = fromHex(v[0]);
        std::vector<uint8_t> block = fromHex(v[1]);
        des::encryptBlock(key.data(), block.data());
        EXPECT_EQ(fromHex(v[2]), block) << vector;
        des::decryptBlock(key.data(), block.data());
        EXPECT_EQ(fromHex(v[1]), block) << vector;
    }
}

TEST(Des, ParityBitsOfTheKeyAreIgnored) {
    // The same key with the low bit of every byte flipped.
    const std::vector<uint8_t> key = fromHex("133457799BBCDFF1");
    const std::vector<uint8_t> flipped = fromHex("123556789ABDDEF0");
    std::vector<uint8_t> a = fromHex("0123456789ABCDEF");
    std::vector<uint8_t> b = a;
    des::encryptBlock(key.data(), a.data());
    des::encryptBlock(flipped.data(), b.data());
    EXPECT_EQ(a, b);
}

std::vector<uint8_t> encryptedPassword(const std::string& password) {
    uint8_t block[8] = {0};
    for (size_t i = 0; i < password.size() && i < 8; ++i) {
        block[i] = static_cast<uint8_t>(password[i]);
    }
    WinpeEditor::encryptVncPassword(block);
    return std::vector<uint8_t>(block, block + 8);
}

TEST(VncPassword, KnownValueOfThePasswordPassword) {
    EXPECT_EQ(fromHex("dbd83cfd727a1458"), encryptedPassword("password"));
}

// vncpasswd of TigerVNC stores passwords with the key the VNC server reads them with.
TEST(VncPassword, MatchesVncpasswdForShortFullAndLongPasswords) {
    if (!test_support::haveTool("vncpasswd")) {
        GTEST_SKIP() << "vncpasswd (tigervnc-tools) is not installed";
    }
    for (const char* password :
         {"password", "abcdef", "12345678", "secret%pass", "Zz9!@#$x", "longer-than-eight-bytes"}) {
        const test_support::CommandResult result =
            test_support::runCommand("printf '%s\\n' " + test_support::shellQuote(password) +
                                     " | vncpasswd -f | od -An -tx1 | tr -d ' \\n'");
        ASSERT_EQ(0, result.exitCode) << result.output;
        ASSERT_EQ(16u, result.output.size()) << result.output;
        EXPECT_EQ(fromHex(result.output), encryptedPassword(password)) << password << result.output;
    }
}

}  // namespace
