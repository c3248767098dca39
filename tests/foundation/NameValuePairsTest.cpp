#include "NameValuePairs.h"

#include <gtest/gtest.h>

TEST(TypedValueTest, NumbersPrintInDecimalAndTextsAsGiven) {
    TypedValue number(-42L);
    EXPECT_EQ(number.getKind(), TypedValue::kNumber);
    EXPECT_TRUE(number.isInteger());
    EXPECT_EQ(number.toString(), "-42");
    TypedValue text(String("abc"));
    EXPECT_EQ(text.getKind(), TypedValue::kText);
    EXPECT_FALSE(text.isInteger());
    EXPECT_EQ(text.toString(), "abc");
}

TEST(NameValuePairTest, PrintsNameEqualsValue) {
    EXPECT_EQ(TypedPair("Size", TypedValue(7L)).toString(), "Size=7");
}

TEST(NameValuePairsTest, LookupIgnoresCaseAndFindsTheFirstOfDuplicates) {
    NameValuePairs pairs;
    EXPECT_EQ(pairs.append("Accept", TypedValue(String("a"))), 0);
    EXPECT_EQ(pairs.append("Via", TypedValue(String("first"))), 1);
    EXPECT_EQ(pairs.append("VIA", TypedValue(String("second"))), 2);
    EXPECT_EQ(pairs.find("via"), 1);
    EXPECT_EQ(pairs.getText("vIa"), "first");
    EXPECT_EQ(pairs.find("Missing"), -1);
    EXPECT_EQ(pairs.getText("Missing"), "");

    EXPECT_TRUE(pairs.remove("via"));  // only the first goes
    ASSERT_EQ(pairs.size(), 2);
    EXPECT_EQ(pairs.getText("Via"), "second");
    EXPECT_FALSE(pairs.remove("Missing"));
    EXPECT_THROW(pairs.pairAt(2), ArrayIndexException);
    EXPECT_EQ(pairs.toString(), "Accept=a\nVIA=second\n");
}

TEST(NameValuePairsTest, AssignmentCopiesIndependently) {
    NameValuePairs a;
    a.append("n", TypedValue(1L));
    NameValuePairs b;
    b.append("old", TypedValue(2L));
    b = a;
    a.append("m", TypedValue(3L));
    ASSERT_EQ(b.size(), 1);
    EXPECT_EQ(b.nameAt(0), "n");
    EXPECT_EQ(b.numberAt(0), 1);
}
