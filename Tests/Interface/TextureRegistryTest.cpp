// Texture registry: lookups by name and by id, first name wins, ids unique and well formed.
#include "Interface/TextureRegistry.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "Interface/Texture.h"

namespace vesk {
namespace {

std::shared_ptr<Texture> Make(const std::string& name, const std::string& id) {
    return std::make_shared<Texture>(name, id);
}

TEST(TextureRegistryTest, FindsATextureByNameAndByIdAsTheSameObject) {
    TextureRegistry registry;
    const auto font = Make("font_texture", "aB3xZ");
    ASSERT_TRUE(registry.Register(font));

    EXPECT_EQ(registry.Find("font_texture"), font);
    EXPECT_EQ(registry.Find("aB3xZ"), font);
    EXPECT_EQ(registry.Find(""), nullptr);
    EXPECT_EQ(registry.Find("logo"), nullptr);
    EXPECT_EQ(registry.Find("ab3xz"), nullptr) << "ids are case-sensitive";
}

TEST(TextureRegistryTest, TheFirstTextureKeepsItsNameAndLaterOnesStayReachableById) {
    TextureRegistry registry;
    const auto first = Make("logo", "aaaaa");
    const auto second = Make("logo", "bbbbb");
    ASSERT_TRUE(registry.Register(first));
    ASSERT_TRUE(registry.Register(second));

    EXPECT_EQ(registry.Find("logo"), first);
    EXPECT_EQ(registry.Find("bbbbb"), second);
    EXPECT_EQ(registry.Size(), 2u);
}

TEST(TextureRegistryTest, RefusesNullAndTakenIdsWithoutChangingWhatIsThere) {
    TextureRegistry registry;
    const auto original = Make("logo", "xxxxx");
    ASSERT_TRUE(registry.Register(original));

    EXPECT_FALSE(registry.Register(nullptr));
    // Same id under another name: neither the id nor the new name may point elsewhere.
    EXPECT_FALSE(registry.Register(Make("background", "xxxxx")));
    EXPECT_EQ(registry.Find("xxxxx"), original);
    EXPECT_EQ(registry.Find("background"), nullptr);
    EXPECT_EQ(registry.Size(), 1u);
}

TEST(TextureRegistryTest, NewIdsAreFiveCharactersOfTheAlphabetAndNotInUse) {
    TextureRegistry registry;
    const std::string_view alphabet = TextureIdAlphabet;
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const std::string id = registry.NewId();
        ASSERT_EQ(id.size(), 5u) << id;
        for (char c : id) {
            ASSERT_NE(alphabet.find(c), std::string_view::npos) << id;
        }
        ASSERT_TRUE(registry.Register(Make("t" + std::to_string(i), id))) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(TextureRegistryTest, TexturesMadeForTheGlobalRegistryGetDistinctIds) {
    // Ids come from the global registry at construction, whatever the name.
    const Texture a("same");
    const Texture b("same");
    EXPECT_EQ(a.GetId().size(), 5u);
    EXPECT_NE(a.GetId(), b.GetId());
    EXPECT_FALSE(a.IsUploaded());
    // The UI's image handle points at the id itself.
    EXPECT_EQ(*static_cast<const std::string*>(a.GetHandle()), a.GetId());
}

}  // namespace
}  // namespace vesk
