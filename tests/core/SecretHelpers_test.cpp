// The library's internal secret helpers: the scope wiper and the draw of secret bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "RandomBytes.h"
#include "SecretWiper.h"

namespace {

using QmSecCore::detail::SecretWiper;

// A buffer of each kind that secrets live in, filled with 'k', and its bytes as a view.
template <class Buffer>
Buffer Filled(int size) {
    std::string text(static_cast<size_t>(size), 'k');
    if constexpr (std::is_same_v<Buffer, QmXplArray::CharArray_t>) {
        return Buffer(text.data(), size);
    } else {
        return Buffer(text.begin(), text.end());
    }
}
std::string_view Bytes(const QmXplArray::CharArray_t& buffer) { return buffer.View(); }
template <class Buffer>
std::string_view Bytes(const Buffer& buffer) {
    return {reinterpret_cast<const char*>(buffer.data()), buffer.size()};
}

template <class Buffer>
class SecretWiperTest : public ::testing::Test {};
using SecretBuffers = ::testing::Types<std::string, std::vector<char>, std::vector<unsigned char>,
                                       QmXplArray::CharArray_t>;
TYPED_TEST_SUITE(SecretWiperTest, SecretBuffers);

// Zeroed in place when the scope ends, also when it ends by an exception; the size stays.
TYPED_TEST(SecretWiperTest, ZeroesTheBufferWhenTheScopeEndsHoweverItEnds) {
    TypeParam returned = Filled<TypeParam>(40);
    TypeParam thrown = Filled<TypeParam>(40);
    { SecretWiper wipe{returned}; }
    try {
        SecretWiper wipe{thrown};
        throw 1;
    } catch (int) {
    }
    for (const TypeParam* buffer : {&returned, &thrown}) {
        ASSERT_EQ(Bytes(*buffer).size(), 40u);
        EXPECT_EQ(Bytes(*buffer), std::string(40, '\0'));
    }
}

TEST(SecretArrayWiperTest, ZeroesAFixedArray) {
    unsigned char derived[32];
    std::fill(std::begin(derived), std::end(derived), 'k');
    { SecretWiper wipe{derived}; }
    EXPECT_TRUE(std::all_of(std::begin(derived), std::end(derived), [](auto b) { return b == 0; }));
}

// 4096 raw random bytes hold a zero byte all but certainly (1 - e^-16); a secret draw has none,
// and is still random: 0x23 stands about as often as any other value.
TEST(RandomSecretBytesTest, DrawHasNoZeroByte) {
    std::vector<unsigned char> secret(4096);
    ASSERT_TRUE(QmSecCore::detail::RandomSecretBytes(secret.data(), 4096));
    EXPECT_EQ(std::count(secret.begin(), secret.end(), 0), 0);
    EXPECT_LT(std::count(secret.begin(), secret.end(), 0x23), 128);
}

}  // namespace
