// Paths from outside mapped into the site root, and nothing outside it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/asp/site_root.h"

namespace quill::asp {
namespace {

namespace fs = std::filesystem;

class SiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = fs::temp_directory_path() / ("asp-site-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base_);
    fs::create_directories(base_ / "site" / "sub");
    Write("site/page.asp", "page");
    Write("site/sub/inner.asp", "inner");
    Write("secret.txt", "secret");
    fs::create_directories(base_ / "outside");
    Write("outside/x.inc", "outside");
    fs::create_symlink(base_ / "secret.txt", base_ / "site" / "link-out.txt");
    fs::create_symlink(base_ / "outside", base_ / "site" / "dir-out");
    fs::create_symlink(base_ / "site" / "page.asp", base_ / "site" / "link-in.asp");
  }
  void TearDown() override { fs::remove_all(base_); }

  void Write(const std::string& rel, const std::string& text) {
    std::ofstream(base_ / rel, std::ios::binary) << text;
  }

  fs::path base_;
};

TEST_F(SiteTest, ResolvesPathsInsideTheRoot) {
  SiteRoot site(base_ / "site");
  ASSERT_TRUE(site.Resolve("/page.asp"));
  EXPECT_EQ(*site.Resolve("/page.asp"), fs::canonical(base_ / "site/page.asp"));
  EXPECT_TRUE(site.Resolve("/sub/inner.asp"));
  EXPECT_TRUE(site.Resolve("/sub//inner.asp"));
  EXPECT_TRUE(site.Resolve("/"));
  EXPECT_EQ(site.VirtualPath(*site.Resolve("/sub/inner.asp")), "/sub/inner.asp");
  EXPECT_EQ(site.VirtualPath(site.path()), "/");
  // A link that stays inside is followed.
  EXPECT_EQ(*site.Resolve("/link-in.asp"), fs::canonical(base_ / "site/page.asp"));
}

TEST_F(SiteTest, NothingOutsideTheRootIsReached) {
  SiteRoot site(base_ / "site");
  for (const char* path : {"/../secret.txt", "/sub/../../secret.txt", "/./page.asp", "/sub/..", "page.asp", "",
                           "/link-out.txt", "/dir-out/x.inc", "/missing.asp", "/page.asp\\..\\x"}) {
    EXPECT_FALSE(site.Resolve(path)) << path;
  }
  EXPECT_FALSE(site.Resolve(std::string("/page.asp\0x", 11)));
}

TEST_F(SiteTest, CombinesVirtualPaths) {
  EXPECT_EQ(SiteRoot::CombineVirtual("/a/b", "c.inc"), "/a/b/c.inc");
  EXPECT_EQ(SiteRoot::CombineVirtual("/a/b", "../c.inc"), "/a/c.inc");
  EXPECT_EQ(SiteRoot::CombineVirtual("/a/b", "/c.inc"), "/c.inc");
  EXPECT_EQ(SiteRoot::CombineVirtual("/", "./x/./y"), "/x/y");
  EXPECT_EQ(SiteRoot::CombineVirtual("/a", ".."), "/");
  EXPECT_THROW(SiteRoot::CombineVirtual("/a", "../../x"), std::runtime_error);
  EXPECT_THROW(SiteRoot::CombineVirtual("/", "a\\b"), std::runtime_error);
  EXPECT_EQ(VirtualFolder("/a/b.asp"), "/a");
  EXPECT_EQ(VirtualFolder("/b.asp"), "/");
}

TEST_F(SiteTest, MapPathStaysInTheRoot) {
  SiteRoot site(base_ / "site");
  EXPECT_EQ(site.MapPath("/sub", "data.txt"), site.path() / "sub" / "data.txt");
  EXPECT_EQ(site.MapPath("/sub", "/"), site.path());
  EXPECT_EQ(site.MapPath("/sub", "../page.asp"), site.path() / "page.asp");
  EXPECT_THROW(site.MapPath("/", "../secret.txt"), std::runtime_error);
  EXPECT_THROW(site.MapPath("/", "/link-out.txt"), std::runtime_error);
  EXPECT_THROW(site.MapPath("/", "/dir-out/new.txt"), std::runtime_error);
}

TEST_F(SiteTest, IncludesAreReadFromTheSiteOnly) {
  SiteRoot site(base_ / "site");
  SiteSource source(site);
  EXPECT_EQ(source.Open("/page.asp").text, "page");
  EXPECT_EQ(source.Include("/sub/inner.asp", false, "../page.asp").name, "/page.asp");
  EXPECT_EQ(source.Include("/sub/inner.asp", true, "/page.asp").text, "page");
  EXPECT_THROW(source.Include("/page.asp", false, "/page.asp"), std::runtime_error);
  EXPECT_THROW(source.Include("/page.asp", false, "../secret.txt"), std::runtime_error);
  EXPECT_THROW(source.Include("/page.asp", false, "dir-out/x.inc"), std::runtime_error);
  EXPECT_THROW(source.Include("/page.asp", false, "sub"), std::runtime_error);  // a folder
  EXPECT_THROW(source.Open("/nothing.asp"), std::runtime_error);
}

TEST_F(SiteTest, RootMustBeAFolder) {
  EXPECT_THROW(SiteRoot(base_ / "missing"), std::runtime_error);
  EXPECT_THROW(SiteRoot(base_ / "secret.txt"), std::runtime_error);
}

}  // namespace
}  // namespace quill::asp
