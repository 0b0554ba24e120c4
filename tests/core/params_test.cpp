#include <gtest/gtest.h>

#include "core/params.h"

TEST(ParamsTest, SerialisedStateCopiesValues)
{
    auto make = [] {
        auto p = std::make_shared<nox::Params>("Params");
        auto choice = std::make_shared<nox::ChoiceParam<uint32_t>>("Format Type", 0);
        choice->addChoice(0, "zero");
        choice->addChoice(3, "three");
        p->add(choice);
        p->add(std::make_shared<nox::BoolParam>("Flag", false));
        return p;
    };
    auto a = make(), b = make();
    auto choice = std::static_pointer_cast<nox::ChoiceParam<uint32_t>>(a->find("Format Type"));
    choice->setValue(3);
    std::static_pointer_cast<nox::BoolParam>(a->find("Flag"))->setValue(true);
    EXPECT_EQ(choice->selectedIndex(), 1);
    EXPECT_EQ(*choice->nameOf(3), "three");
    EXPECT_EQ(choice->changeCount(), 1u);

    ASSERT_TRUE(b->restore(a->serialise()));
    EXPECT_EQ(b->serialise(), a->serialise());
    EXPECT_EQ(std::static_pointer_cast<nox::ChoiceParam<uint32_t>>(b->find("Format Type"))->value(), 3u);

    // A value outside the choices is kept (it only has no name).
    choice->setValue(9);
    EXPECT_EQ(choice->selectedIndex(), -1);
    EXPECT_EQ(choice->nameOf(9), nullptr);

    EXPECT_FALSE(b->restore("Format Type=abc\nFlag=maybe\nUnknown=1\nnoequals"));
    EXPECT_EQ(std::static_pointer_cast<nox::ChoiceParam<uint32_t>>(b->find("Format Type"))->value(), 3u);
}
