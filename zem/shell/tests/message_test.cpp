#include <zem/core/message.hpp>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct Payload {
    std::string text;
    int number = 0;
};

TEST(Message, CopiesAreIndependentAndMovesEmptyTheSource) {
    zem::Message a = Payload{"copy me", 7};
    zem::Message b = a;
    b.get<Payload>()->text = "changed";
    EXPECT_EQ(a.get<Payload>()->text, "copy me");
    EXPECT_EQ(b.get<Payload>()->text, "changed");

    zem::Message c = std::move(a);
    EXPECT_TRUE(c.holds<Payload>());
    EXPECT_EQ(std::move(c).take<Payload>().number, 7);
}

TEST(Message, TakingOneOfTwoCopiesLeavesTheOtherWhole) {
    zem::Message a = Payload{"shared", 3};
    zem::Message b = a;
    EXPECT_EQ(std::move(b).take<Payload>().text, "shared");
    EXPECT_FALSE(b.has_value());
    ASSERT_TRUE(a.holds<Payload>());
    EXPECT_EQ(std::as_const(a).get<Payload>()->text, "shared");
    EXPECT_EQ(std::move(a).take<Payload>().number, 3);
}

TEST(Message, WrongTypeIsNotHandedOut) {
    zem::Message m = 42;
    EXPECT_EQ(m.get<std::string>(), nullptr);
    EXPECT_FALSE(m.holds<long>());
    ASSERT_NE(m.get<int>(), nullptr);
    EXPECT_EQ(*m.get<int>(), 42);
    EXPECT_DEATH((void)std::move(m).take<std::string>(), "taken as");
}

TEST(Message, OptionalAbsenceIsNotAMessage) {
    std::vector<zem::OptionalMessage> slots{std::nullopt, zem::Message{std::string("x")}};
    EXPECT_FALSE(slots[0].has_value());
    ASSERT_TRUE(slots[1].has_value());
    EXPECT_EQ(*slots[1]->get<std::string>(), "x");
}

}  // namespace
