#include "String.h"

#include <gtest/gtest.h>

#include <string>

#include "Vector.h"

TEST(StringTest, NullPointerGivesEmptyString) {
    String s(static_cast<const char*>(nullptr));
    EXPECT_TRUE(s.isEmpty());
    EXPECT_STREQ(s.c_str(), "");
}

TEST(StringTest, CapacityIsSmallestMultipleOfFortyAboveLength) {
    EXPECT_EQ(String("").capacity(), 40);
    EXPECT_EQ(String(std::string(39, 'x')).capacity(), 40);
    EXPECT_EQ(String(std::string(40, 'x')).capacity(), 80);
}

TEST(StringTest, AppendsNumbersAndFlagsInPrintfForm) {
    String s;
    s.append(-5)
        .append(' ')
        .append(1234567890123L)
        .append(' ')
        .append(0.5)
        .append(' ')
        .append(true);
    EXPECT_EQ(s, "-5 1234567890123 0.5 true");
    EXPECT_EQ(String().append(1e20), "1e+20");
}

TEST(StringTest, CheckedIndicesRaise) {
    String s("abc");
    EXPECT_EQ(s.charAt(2), 'c');
    EXPECT_THROW(s.charAt(3), ArrayIndexException);
    EXPECT_THROW(s.charAt(-1), ArrayIndexException);
    EXPECT_THROW(s.substring(2, 4), ArrayIndexException);
    EXPECT_THROW(s.getChars(nullptr, 4), NullPointerException);
}

TEST(StringTest, SearchReturnsMinusOneWhenAbsent) {
    String s("a/b/c");
    EXPECT_EQ(s.indexOf('/'), 1);
    EXPECT_EQ(s.lastIndexOf('/'), 3);
    EXPECT_EQ(s.indexOf("x"), -1);
    EXPECT_EQ(s.lastIndexOf('x'), -1);
}

TEST(StringTest, SplitDropsEmptyPieces) {
    Vector<String> parts;
    String(",a,,b,").split(",", parts);
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0], "a");
    EXPECT_EQ(parts[1], "b");
    String(" x ; y").split(";", parts);  // split clears first and keeps blanks
    ASSERT_EQ(parts.size(), 2);
    EXPECT_EQ(parts[0], " x ");
}

TEST(VectorTest, GrowsByAtLeastItsStepThenByDoubling) {
    Vector<int> v(0, 20);
    for (int i = 0; i < 21; ++i) {
        v.add(i);
    }
    EXPECT_EQ(v.capacity(), 40);
    for (int i = 21; i < 41; ++i) {
        v.add(i);
    }
    EXPECT_EQ(v.capacity(), 80);  // a fixed step would give 60
    Vector<int> small(0, 20);
    small.add(1);
    EXPECT_EQ(small.capacity(), 20);  // from empty, the step and not 0 * 2
}

// Counts its copies, to show that a growing vector moves its elements.
struct CopyCounter {
    static inline int copies = 0;
    CopyCounter() = default;
    CopyCounter(const CopyCounter&) { ++copies; }
    CopyCounter& operator=(const CopyCounter&) {
        ++copies;
        return *this;
    }
    CopyCounter(CopyCounter&&) noexcept = default;
    CopyCounter& operator=(CopyCounter&&) noexcept = default;
};

TEST(VectorTest, GrowingMovesTheElements) {
    CopyCounter::copies = 0;
    Vector<CopyCounter> v(0, 20);
    for (int i = 0; i < 1000; ++i) {
        v.add(CopyCounter());
    }
    EXPECT_EQ(CopyCounter::copies, 0);
    EXPECT_LE(v.capacity(), 2 * 1000);
}

TEST(VectorTest, AddingItsOwnElementToAFullVector) {
    Vector<String> v;
    for (int i = 0; i < 20; ++i) {
        v.add(String(std::string(64, static_cast<char>('a' + i))));
    }
    ASSERT_EQ(v.size(), v.capacity());
    v.add(v[0]);  // the growth frees the storage that v[0] lives in
    v.insertAt(v[1], 0);
    EXPECT_EQ(v.capacity(), 40);
    EXPECT_EQ(v.lastElement(), String(std::string(64, 'a')));
    EXPECT_EQ(v[0], String(std::string(64, 'b')));
    EXPECT_EQ(v.size(), 22);
}

TEST(VectorTest, CheckedIndicesAndCopies) {
    Vector<String> v;
    v.add("a");
    v.insertAt("b", 1);  // insertAt allows the end
    EXPECT_THROW(v.insertAt("c", 3), ArrayIndexException);
    EXPECT_THROW(v.elementAt(2), ArrayIndexException);
    EXPECT_EQ(v.setAt("z", 0), "a");
    EXPECT_EQ(v.removeAt(1), "b");
    EXPECT_EQ(v.lastElement(), "z");
    Vector<String> copy;
    copy.add("old");
    copy = v;
    ASSERT_EQ(copy.size(), 1);
    v[0] = "changed";
    EXPECT_EQ(copy[0], "z");
}
