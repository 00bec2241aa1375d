// The Update/DoFinal family that the transforming classes share (Cipher, Base64, MessageSealer,
// MessageUnsealer), tested once for all of them: argument checks in every stage of a message,
// empty input in every form, every overload, in-place use and empty handles.
//
// A traits type describes one class in one mode:
//   using Type;                                  the class
//   static constexpr const char* kName;          the text of IllegalStateError_t of an empty handle
//   static constexpr int kFinalOffsetNumber;     what DoFinal(out, offset) throws for an offset
//                                                outside out
//   static constexpr int kEmptyOutcome;          bytes written for an empty message, or minus the
//                                                number of the exception it throws
//   static Type Make();                          a fresh, working object
//   static std::vector<std::string> Pieces();    a message fed piece by piece, one per stage
//   static std::string Plain();                  what the output of that message decodes to
//   static std::string Decode(const std::string&);
// The test file instantiates the suite: INSTANTIATE_TYPED_TEST_SUITE_P(X, UpdateDoFinalTest, T).
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Message_t.h"
#include "support/Bytes.h"

namespace qmsec_test {

template <class Traits>
class UpdateDoFinalTest : public ::testing::Test {
  protected:
    using CharArray_t = QmXplArray::CharArray_t;

    static std::string Message() {
        std::string all;
        for (const auto& p : Traits::Pieces()) all += p;
        return all;
    }

    // Every refused argument, with the catalog number of IllegalArgumentError_t it throws. A
    // failed call writes nothing and leaves the message where it was.
    static void ExpectArgumentChecks(typename Traits::Type& t) {
        const CharArray_t in("abcdef", 6);
        CharArray_t out(4);
        const char* none = nullptr;
        const int final = Traits::kFinalOffsetNumber;
        const struct {
            const char* what;
            int number;
            std::function<void()> call;
        } cases[] = {
            {"negative length", 9, [&] { t.Update("x", -1, out); }},
            {"negative output offset", 9, [&] { t.Update("x", 1, out, -1); }},
            {"output offset beyond out", 9, [&] { t.Update("x", 1, out, 5); }},
            {"output offset INT_MAX", 9, [&] { t.Update("x", 1, out, INT_MAX); }},
            {"null input with a length", 9, [&] { t.Update(none, 5, out); }},
            {"null input with a length at an offset", 9, [&] { t.Update(none, 5, out, 0); }},
            {"final negative length", 9, [&] { t.DoFinal("x", -1, out); }},
            {"final null input with a length", 9, [&] { t.DoFinal(none, 5, out); }},
            {"final output offset beyond out", 9, [&] { t.DoFinal("x", 1, out, 5); }},
            {"final alone, offset beyond out", final, [&] { t.DoFinal(out, 5); }},
            {"final alone, negative offset", final, [&] { t.DoFinal(out, -1); }},
            {"negative input offset", 12, [&] { t.Update(in, -1, 2, out, 0); }},
            {"range past the end", 12, [&] { t.Update(in, 4, 3, out, 0); }},
            {"overflowing length", 12, [&] { t.Update(in, 1, INT_MAX, out, 0); }},
            {"final offset past the end", 12, [&] { t.DoFinal(in, 7, 0, out, 0); }},
            {"final negative input offset", 12, [&] { t.DoFinal(in, -1, 1, out, 0); }},
            {"final overflowing length", 12, [&] { t.DoFinal(in, 1, INT_MAX, out, 0); }},
        };
        for (const auto& c : cases)
            EXPECT_EQ(ThrownNumber<QmXplMsg::IllegalArgumentError_t>(c.call), c.number) << c.what;
        EXPECT_EQ(out.GetSize(), 4) << "failed calls change nothing";
    }

    // The bytes written by call, or minus the number of the exception it threw.
    static int Outcome(const std::function<int()>& call) {
        try {
            return call();
        } catch (const QmXplMsg::Exception_t& e) {
            return -MessageNumber(e);
        }
    }
};

TYPED_TEST_SUITE_P(UpdateDoFinalTest);

TYPED_TEST_P(UpdateDoFinalTest, ArgumentsAreCheckedInEveryStageAndAfterDoFinal) {
    using Traits = TypeParam;
    typename Traits::Type t = Traits::Make();
    QmXplArray::CharArray_t out;
    std::string produced;
    const std::vector<std::string> pieces = Traits::Pieces();
    for (size_t stage = 0; stage <= pieces.size(); ++stage) {
        SCOPED_TRACE("stage " + std::to_string(stage));
        this->ExpectArgumentChecks(t);
        if (stage == pieces.size()) break;
        int n = t.Update(pieces[stage].data(), static_cast<int>(pieces[stage].size()), out);
        produced += Str(out, 0, n);
    }
    produced += Str(out, 0, t.DoFinal(out));
    EXPECT_EQ(Traits::Decode(produced), Traits::Plain());
    SCOPED_TRACE("after DoFinal");
    this->ExpectArgumentChecks(t);
}

// A null or empty text, an empty array and a zero length are all the empty message.
TYPED_TEST_P(UpdateDoFinalTest, EveryFormOfEmptyInputIsTheEmptyMessage) {
    using Traits = TypeParam;
    using CharArray_t = QmXplArray::CharArray_t;
    const char* none = nullptr;
    const std::vector<std::function<int(typename Traits::Type&, CharArray_t&)>> forms = {
        [](auto& t, auto& out) { return t.DoFinal(out); },
        [](auto& t, auto& out) { return t.DoFinal(out, 0); },
        [&](auto& t, auto& out) { return t.DoFinal(none, out); },
        [](auto& t, auto& out) { return t.DoFinal("", out); },
        [](auto& t, auto& out) { return t.DoFinal(CharArray_t(), out); },
        [](auto& t, auto& out) { return t.DoFinal("x", 0, out); },
        [&](auto& t, auto& out) { return t.DoFinal(none, 0, out, 0); },
        [&](auto& t, auto& out) {
            int n = t.Update(none, out);
            return n + t.DoFinal(out, n);
        },
        [](auto& t, auto& out) {
            int n = t.Update("", out);
            return n + t.DoFinal(out, n);
        },
        [](auto& t, auto& out) {
            int n = t.Update(CharArray_t(), out);
            return n + t.DoFinal(out, n);
        },
    };
    for (size_t i = 0; i < forms.size(); ++i) {
        typename Traits::Type t = Traits::Make();
        CharArray_t out;
        EXPECT_EQ(this->Outcome([&] { return forms[i](t, out); }), Traits::kEmptyOutcome)
            << "form " << i;
    }
}

// Each overload carries the whole message; output at an offset leaves what is before it alone,
// and out grows at the end only, never shrinks.
TYPED_TEST_P(UpdateDoFinalTest, EveryOverloadCarriesTheMessage) {
    using Traits = TypeParam;
    using CharArray_t = QmXplArray::CharArray_t;
    const std::string message = this->Message();
    const int len = static_cast<int>(message.size());
    const CharArray_t framed = Arr("##" + message + "##");
    const char* data = message.data();
    struct Form {
        int offset;  // of the output, behind that many bytes of "prefix"
        std::function<int(typename Traits::Type&, CharArray_t&, int)> run;
    };
    std::vector<Form> forms = {
        {0, [&](auto& t, auto& out, int) { return t.DoFinal(Arr(message), out); }},
        {0, [&](auto& t, auto& out, int) { return t.DoFinal(data, len, out); }},
        {5, [&](auto& t, auto& out, int at) { return t.DoFinal(framed, 2, len, out, at); }},
        {2, [&](auto& t, auto& out, int at) { return t.DoFinal(data, len, out, at); }},
        {0,
         [&](auto& t, auto& out, int) {
             int n = t.Update(Arr(message), out);
             return n + t.DoFinal(out, n);
         }},
        {0,
         [&](auto& t, auto& out, int) {
             int n = t.Update(data, len, out);
             return n + t.DoFinal(out, n);
         }},
        {3,
         [&](auto& t, auto& out, int at) {
             int n = t.Update(framed, 2, len, out, at);
             return n + t.DoFinal(out, at + n);
         }},
        {1,
         [&](auto& t, auto& out, int at) {
             int n = t.Update(data, len, out, at);
             return n + t.DoFinal(out, at + n);
         }},
    };
    // The zero-terminated text forms, for messages that are text.
    if (message.find('\0') == std::string::npos) {
        forms.push_back({0, [&](auto& t, auto& out, int) { return t.DoFinal(data, out); }});
        forms.push_back({0, [&](auto& t, auto& out, int) {
                             int n = t.Update(data, out);
                             return n + t.DoFinal(out, n);
                         }});
    }
    for (size_t i = 0; i < forms.size(); ++i) {
        typename Traits::Type t = Traits::Make();
        const std::string prefix = std::string("prefix").substr(0, forms[i].offset);
        CharArray_t out = Arr(prefix);
        int n = forms[i].run(t, out, forms[i].offset);
        EXPECT_EQ(Str(out, 0, forms[i].offset), prefix) << "form " << i;
        EXPECT_EQ(Traits::Decode(Str(out, forms[i].offset, n)), Traits::Plain()) << "form " << i;
    }
    typename Traits::Type t = Traits::Make();
    CharArray_t large(100000);
    int n = t.DoFinal(data, len, large);
    EXPECT_EQ(large.GetSize(), 100000);
    EXPECT_EQ(Traits::Decode(Str(large, 0, n)), Traits::Plain());
}

// One array as input and output, with the output at the input's start or behind it.
TYPED_TEST_P(UpdateDoFinalTest, InPlaceTransformationIsSafe) {
    using Traits = TypeParam;
    const std::string message = this->Message();
    QmXplArray::CharArray_t buffer = Arr(message);
    typename Traits::Type t = Traits::Make();
    int n = t.DoFinal(buffer, buffer);
    EXPECT_EQ(Traits::Decode(Str(buffer, 0, n)), Traits::Plain());

    QmXplArray::CharArray_t shifted = Arr(message + "xyz");
    typename Traits::Type u = Traits::Make();
    n = u.Update(shifted, 0, static_cast<int>(message.size()), shifted, 3);
    n += u.DoFinal(shifted, 3 + n);
    EXPECT_EQ(Traits::Decode(Str(shifted, 3, n)), Traits::Plain());
}

TYPED_TEST_P(UpdateDoFinalTest, EmptyHandlesThrowIllegalStateWithTheClassName) {
    using Traits = TypeParam;
    using CharArray_t = QmXplArray::CharArray_t;
    typename Traits::Type empty;
    CharArray_t out;
    const std::function<void()> calls[] = {
        [&] { empty.Update("x", out); },       [&] { empty.Update(CharArray_t(), out); },
        [&] { empty.Update("x", 1, out, 0); }, [&] { empty.DoFinal(out); },
        [&] { empty.DoFinal(out, 0); },        [&] { empty.DoFinal("x", 1, out, 0); },
    };
    for (const auto& call : calls)
        EXPECT_EQ(ThrownText<QmXplMsg::IllegalStateError_t>(call), Traits::kName);
}

REGISTER_TYPED_TEST_SUITE_P(UpdateDoFinalTest, ArgumentsAreCheckedInEveryStageAndAfterDoFinal,
                            EveryFormOfEmptyInputIsTheEmptyMessage, EveryOverloadCarriesTheMessage,
                            InPlaceTransformationIsSafe,
                            EmptyHandlesThrowIllegalStateWithTheClassName);

}  // namespace qmsec_test
