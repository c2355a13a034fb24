#include "Watchdog.h"
#include "vyrXML.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

using namespace vyr;

namespace {

// CPU seconds the calling thread has used.
double ThreadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::unique_ptr<TvyrFileSystemObjects> Listing(const std::string& text) {
    return ParseFolderListing(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

void Load(TvyrXMLTree& tree, const std::string& text) {
    tree.LoadFromStream(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

const std::string kSample = "<?xml version=\"1.0\"?>"
                            "<!DOCTYPE folder-listing SYSTEM \"obex-folder-listing.dtd\">"
                            "<folder-listing version=\"1.0\">"
                            "<parent-folder/>"
                            "<folder name=\"Images\" user-perm=\"RW\"/>"
                            "<file name=\"a.txt\" size=\"10\" modified=\"20050131T235959Z\" user-perm=\"R\"/>"
                            "</folder-listing>";

// 31 January 2005 23:59:59 as a day count from 30 December 1899.
const double kJan31 = 38383.0 + 86399.0 / 86400.0;

std::string Replace(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

} // namespace

TEST(vyrXML, FolderListingSampleAndLayoutVariants) {
    for (const std::string& sep :
         {std::string(), std::string("\r\n"), std::string("\r\n\t"), std::string("\n\t "), std::string("\r")}) {
        std::string text = Replace(kSample, "><", ">" + sep + "<");
        TvyrXMLTree tree;
        Load(tree, text);
        EXPECT_EQ(tree.NodeCount(), 3) << sep.size();
        auto objects = Listing(text);
        ASSERT_EQ(objects->Count(), 2) << sep.size();
        TvyrFileSystemObject* images = objects->Items(0);
        EXPECT_TRUE(images->IsFolder());
        EXPECT_EQ(images->Name(), u"Images");
        EXPECT_EQ(images->Permissions(), (TvyrFilePermissions{fpRead, fpWrite}));
        EXPECT_EQ(images->Size(), 0);
        EXPECT_EQ(images->Modified(), 0);
        TvyrFileSystemObject* file = objects->Items(1);
        EXPECT_FALSE(file->IsFolder());
        EXPECT_EQ(file->Name(), u"a.txt");
        EXPECT_EQ(file->Size(), 10);
        EXPECT_EQ(file->Permissions(), TvyrFilePermissions{fpRead});
        EXPECT_EQ(file->Permissions().Bits(), 1);
        EXPECT_NEAR(file->Modified(), kJan31, 1e-9);
        EXPECT_EQ(file->Created(), 0);
    }
    // Nothing to list: no data, no folder-listing element.
    EXPECT_EQ(Listing("")->Count(), 0);
    EXPECT_EQ(Listing("<other><file name=\"x\"/></other>")->Count(), 0);
    EXPECT_EQ(ParseFolderListing(nullptr, 5)->Count(), 0);
}

TEST(vyrXML, ListingAttributesNamesSizesDatesAndPermissions) {
    auto objects = Listing("<folder-listing>"
                           "<Folder name=\"a\" size=\"99\"/>" // any case marks a folder; size ignored
                           "<FOLDER name=\"\"/>"              // an empty name still counts
                           "<file NAME=\"skipped\"/>"         // attribute names are exact
                           "<file name=\"Gr\xC3\xBC\xC3\x9F"
                           "e \xE6\x97\xA5.txt\" size=\"-3\" user-perm=\"dwr\"/>"
                           "<file name=\"big\" size=\"4294967296\" created=\"20040229T120000\"/>"
                           "<file name=\"bad\" size=\"12x\" modified=\"yesterday\" created=\"2005013\"/>"
                           "<file name=\"edge\" size=\"2147483647\" modified=\"20050229T000000Z\"/>"
                           "<file name=\"late\" modified=\"20051231T240000Z\" created=\"18991229T060000\"/>"
                           "</folder-listing>");
    ASSERT_EQ(objects->Count(), 7);
    EXPECT_TRUE(objects->Items(0)->IsFolder());
    EXPECT_EQ(objects->Items(0)->Size(), 0);
    EXPECT_TRUE(objects->Items(1)->IsFolder());
    EXPECT_EQ(objects->Items(1)->Name(), u"");
    TvyrFileSystemObject* utf8 = objects->Items(2);
    EXPECT_EQ(utf8->Name(), u"Gr\u00FC\u00DFe \u65E5.txt");
    EXPECT_EQ(utf8->Size(), -3);
    EXPECT_EQ(utf8->Permissions(), (TvyrFilePermissions{fpRead, fpWrite, fpDelete}));
    EXPECT_EQ(objects->Items(3)->Size(), 0); // beyond 32 bits
    EXPECT_NEAR(objects->Items(3)->Created(), 38046.5, 1e-9);
    TvyrFileSystemObject* bad = objects->Items(4);
    EXPECT_EQ(bad->Size(), 0);
    EXPECT_EQ(bad->Modified(), 0);
    EXPECT_EQ(bad->Created(), 0);
    EXPECT_EQ(objects->Items(5)->Size(), 2147483647);
    EXPECT_EQ(objects->Items(5)->Modified(), 0); // 29 February of a common year
    EXPECT_EQ(objects->Items(6)->Modified(), 0); // hour 24
    EXPECT_NEAR(objects->Items(6)->Created(), -1.25, 1e-9);

    TDateTime t = 0;
    EXPECT_TRUE(ParseListingDate(u"18991230T120000", t));
    EXPECT_NEAR(t, 0.5, 1e-12);
    EXPECT_TRUE(ParseListingDate(u"20050131x235959+0200", t)); // position 9 and the tail are ignored
    EXPECT_NEAR(t, kJan31, 1e-9);
    for (const char16_t* bad : {u"", u"2005", u"20050131T2359", u"20051301T000000", u"00000101T000000",
                                u"20050100T000000", u"2005-1-31T000000", u"20050131T23 959"})
        EXPECT_FALSE(ParseListingDate(bad, t)) << vcl::Utf16ToUtf8(bad);

    TvyrFileSystemObjects list;
    try {
        list.Add(nullptr);
        FAIL() << "nil accepted";
    } catch (const vyrEInvalidArgument& e) {
        EXPECT_EQ(e.Message(), u"FileSystemObject parameter is not valid.");
    }
    EXPECT_EQ(list.Add(new TvyrFileSystemObject), 0);
    EXPECT_TRUE(list.Items(0)->IsFolder()); // the default
}

TEST(vyrXML, TreeTextsCDataAndNodeNavigation) {
    TvyrXMLTree tree;
    Load(tree, "<a x=\"1\" y = \"two words\" z='no'>one<b/>two<br/></a>"
               "<c><![CDATA[x\r\ny\tz]]></c><d>\t  spaced \r\n text </d>");
    EXPECT_EQ(tree.Name(), u"root");
    ASSERT_EQ(tree.ChildCount(), 3);
    TvyrXMLNode* a = tree.FirstChild();
    EXPECT_EQ(a->Name(), u"a");
    EXPECT_EQ(a->Value(), u"two"); // the last text wins
    EXPECT_FALSE(a->IsCData());
    ASSERT_EQ(a->ChildCount(), 2);
    EXPECT_EQ(a->Children(0)->Name(), u"b/"); // an empty-element tag keeps its slash
    EXPECT_EQ(a->Children(1)->Name(), u"br/");
    ASSERT_EQ(a->AttributeCount(), 2); // single quotes are not recognised
    EXPECT_EQ(a->FindAttribute(u"x")->Value(), u"1");
    EXPECT_EQ(a->FindAttribute(u"y")->Value(), u"two words");
    EXPECT_EQ(a->FindAttribute(u"X"), nullptr);
    TvyrXMLNode* c = a->NextSibling();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Value(), u"x\\n y\\t z");
    EXPECT_TRUE(c->IsCData());
    EXPECT_EQ(c->NextSibling()->Value(), u"spaced   text");
    EXPECT_EQ(c->NextSibling()->NextSibling(), nullptr);
    EXPECT_EQ(tree.NextSibling(), nullptr);
    EXPECT_EQ(tree.NodeCount(), 3);
    EXPECT_EQ(tree.Lines().front(), "OT:a x=\"1\" y = \"two words\" z='no'");
    EXPECT_THROW(a->Children(2), vyrEIndexOutOfBounds);

    // FindNode: depth first in document order, never the node itself.
    Load(tree, "<r><p><q id=\"1\"/><x id=\"deep\"/></p><x id=\"shallow\"/></r>");
    TvyrXMLNode* r = tree.FindNode(u"r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->FindNode(u"x")->FindAttribute(u"id")->Value(), u"deep");
    EXPECT_EQ(r->FindNode(u"r"), nullptr);
    EXPECT_EQ(tree.FindNode(u"nothing"), nullptr);
    ASSERT_NE(tree.FindNode(u"q"), nullptr);
    EXPECT_EQ(tree.FindNode(u"q")->Parent()->Name(), u"p");
}

TEST(vyrXML, TokenizerHelpers) {
    EXPECT_EQ(PosFrom("<", "ab<c<", 1), 3u);
    EXPECT_EQ(PosFrom("<", "ab<c<", 4), 5u);
    EXPECT_EQ(PosFrom("<", "ab<c<", 6), 0u);
    EXPECT_EQ(PosFrom("]]>", "x]]", 1), 0u);
    EXPECT_EQ(NormalizeXmlText("\t a\r\nb \r\n"), "a b");
    EXPECT_EQ(NormalizeCData("x\r\ny\tz\n"), "x\\n y\\t z\n");
    std::vector<std::string> lines = {"<a>", "t</a><b/><![cdata[q]]>"};
    TvyrXMLTree::TokenizeXml(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"OT:a", "TX:t", "CT:a", "ET:b/", "CD:q"}));
}

TEST(vyrXML, HostileListingsAlwaysReturn) {
    TvyrXMLTree tree;
    // Unterminated CDATA: the rest is the section, and the reader returns.
    Load(tree, "<a><![CDATA[never ends <b>");
    ASSERT_EQ(tree.ChildCount(), 1);
    EXPECT_TRUE(tree.FirstChild()->IsCData());
    EXPECT_EQ(tree.FirstChild()->Value().substr(0, 14), u"never ends <b>");
    EXPECT_EQ(tree.FirstChild()->ChildCount(), 0);

    // More closing tags than open ones stay at the root.
    Load(tree, "</x></y><a></a></a></b><c/>text");
    ASSERT_EQ(tree.ChildCount(), 2);
    EXPECT_EQ(tree.Children(1)->Name(), u"c/");
    EXPECT_EQ(tree.Value(), u"text");

    // "<>", "< >", an unclosed "<", empty and blank input.
    Load(tree, "<><  >a < b");
    EXPECT_EQ(tree.NodeCount(), 2);
    EXPECT_EQ(tree.FirstChild()->Name(), u"");
    EXPECT_EQ(tree.FirstChild()->FirstChild()->Value(), u"b");
    Load(tree, "");
    EXPECT_EQ(tree.ChildCount(), 0);
    EXPECT_TRUE(tree.Lines().empty());
    Load(tree, " \r\n\t ");
    EXPECT_EQ(tree.ChildCount(), 0);
    Load(tree, "<a b=\"unclosed><c d= e=\"\"/>");
    EXPECT_EQ(tree.NodeCount(), 1);

    // Deep nesting and long runs of "<" finish quickly and free without recursion. Bounded by the CPU time
    // they take, which a busy machine does not stretch: about 0.1 s; a quadratic walk over 100,000 tags
    // takes many seconds, and a loop that never ends meets the watchdog.
    tavtest::Watchdog watchdog(std::chrono::seconds(60), "a hostile listing never returned");
    const double started = ThreadCpuSeconds();
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "<folder-listing>";
    deep += "<file name=\"x\"/>";
    Load(tree, deep);
    EXPECT_EQ(tree.NodeCount(), 100000);
    EXPECT_NE(tree.FindNode(u"file"), nullptr);
    EXPECT_EQ(Listing(deep)->Count(), 0); // the first folder-listing holds only another one
    Load(tree, std::string(200000, '<'));
    EXPECT_EQ(tree.ChildCount(), 0);
    Load(tree, std::string(100000, '<') + ">");
    EXPECT_EQ(tree.NodeCount(), 1);
    Load(tree, "<![CDATA[" + std::string(100000, '<'));
    const double spent = ThreadCpuSeconds() - started;
    EXPECT_LT(spent, 2.0);
    std::printf("hostile listings: %.3f s of CPU\n", spent);
}
