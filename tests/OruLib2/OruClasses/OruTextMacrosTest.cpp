#include "OruLib2/OruClasses/OruTextMacros.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/kit/StreamBytes.h"

using namespace oru;

namespace text_macros_test {

using Bytes = std::vector<std::uint8_t>;

// A parser whose owner answers from a table and counts its calls.
struct Owner {
  std::map<zm::WideString, zm::WideString> Values;
  std::vector<zm::WideString> Asked;
  zm::TRef<TMTParser> Parser = zm::MakeRef<TMTParser>();
  Owner() {
    Parser->GetValue = [this](const zm::WideString& macro, zm::WideString& value) {
      Asked.push_back(macro);
      auto it = Values.find(macro);
      value = it == Values.end() ? zm::WideString() : it->second;
    };
  }
  zm::WideString Expand(const zm::WideString& text) { return Parser->Expand(text); }
};

// A JPEG with an Exif block (Intel order: description and date) and an IPTC block.
Bytes PictureFile() {
  auto u16 = [](Bytes& b, unsigned v) { b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); };
  auto u32 = [&](Bytes& b, unsigned v) {
    u16(b, v & 0xFFFF);
    u16(b, v >> 16);
  };
  const std::string desc("  Pier  ", 9), date("2012:05:17 14:03:21", 20);
  Bytes tiff = {'I', 'I', 42, 0, 8, 0, 0, 0};
  u16(tiff, 2);
  const unsigned data = 8 + 2 + 2 * 12 + 4;
  u16(tiff, 0x010E), u16(tiff, 2), u32(tiff, unsigned(desc.size())), u32(tiff, data);
  u16(tiff, 0x0132), u16(tiff, 2), u32(tiff, unsigned(date.size())), u32(tiff, data + unsigned(desc.size()));
  u32(tiff, 0);
  tiff.insert(tiff.end(), desc.begin(), desc.end());
  tiff.insert(tiff.end(), date.begin(), date.end());

  Bytes iptc;
  auto tag = [&](int ds, const std::string& v) {
    iptc.insert(iptc.end(), {0x1C, 2, std::uint8_t(ds), 0, std::uint8_t(v.size())});
    iptc.insert(iptc.end(), v.begin(), v.end());
  };
  tag(80, " Ann ");
  tag(80, "Bob");
  tag(90, "<%MainImg.IPTC.City%>");
  Bytes app13;
  const std::string head = std::string("Photoshop 3.0") + '\0' + "8BIM";
  app13.insert(app13.end(), head.begin(), head.end());
  app13.insert(app13.end(), {4, 4, 0, 0, 0, 0, 0, std::uint8_t(iptc.size())});
  app13.insert(app13.end(), iptc.begin(), iptc.end());

  Bytes f = {0xFF, 0xD8};
  auto segment = [&](std::uint8_t marker, const Bytes& head2, const Bytes& body) {
    const std::size_t n = head2.size() + body.size() + 2;
    f.insert(f.end(), {0xFF, marker, std::uint8_t(n >> 8), std::uint8_t(n)});
    f.insert(f.end(), head2.begin(), head2.end());
    f.insert(f.end(), body.begin(), body.end());
  };
  segment(0xE1, Bytes{'E', 'x', 'i', 'f', 0, 0}, tiff);
  segment(0xED, Bytes{}, app13);
  f.insert(f.end(), {0xFF, 0xD9});
  return f;
}

TEST(TextMacros, MatchInAnyCaseAndLeaveOtherTextAlone) {
  Owner o;
  o.Values = {{u"<%SlideIndex%>", u"3"}, {u"<%SlidesCount%>", u"12"}};
  EXPECT_EQ(o.Expand(u"Slide <%slideindex%> of <%SLIDESCOUNT%>"), u"Slide 3 of 12");
  // Unknown, unterminated and nested macros: only whole known names are replaced.
  EXPECT_EQ(o.Expand(u"<%Unknown%> <%SlideIndex <%<%SlideIndex%>%> %>"), u"<%Unknown%> <%SlideIndex <%3%> %>");
  EXPECT_EQ(o.Expand(u"<%SlideIndex%><%SlideIndex%>"), u"33");
  // Only macros whose values are empty, and the empty text, give one blank.
  EXPECT_EQ(o.Expand(u"<%MainImg.IPTC.City%><%MainImg.FolderName%>"), u" ");
  EXPECT_EQ(o.Expand(u""), u" ");
  EXPECT_EQ(o.Expand(u"\u00DCber <%SlideIndex%>"), u"\u00DCber 3");

  auto bare = zm::MakeRef<TMTParser>();
  EXPECT_THROW(bare->Expand(u"x"), zm::EAbort);
}

TEST(TextMacros, ValuesHoldingMacrosEndAndAreAskedOncePerOccurrence) {
  Owner o;
  o.Values = {{u"<%MainImg.IPTC.City%>", u"<%MainImg.IPTC.City%>!"}, {u"<%SlideIndex%>", u"<%slideindex%>"}};
  EXPECT_EQ(o.Expand(u"<%MainImg.IPTC.City%> <%MainImg.IPTC.City%>"),
            u"<%MainImg.IPTC.City%>! <%MainImg.IPTC.City%>!");
  EXPECT_EQ(o.Expand(u"<%SlideIndex%>"), u"<%slideindex%>");
  std::size_t cities = 0;
  for (const auto& m : o.Asked) cities += m == u"<%MainImg.IPTC.City%>";
  EXPECT_EQ(cities, 2u);
}

TEST(TextMacros, PathFormsAndDateParts) {
  Owner o;
  o.Values = {{u"<%MainImg.PathNameExt%>", u"C:\\Shows\\Holiday\\img_01.jpg"},
              {u"<%MainImg.Exif.Date%>", u"2012:05:17 14:03:21"},
              {u"<%MainImg.Exif.Time%>", u"2012:05:17 14:03:21"}};
  EXPECT_EQ(o.Expand(u"<%MainImg.FileName%>|<%MainImg.PathName%>|<%MainImg.FileNameExt%>|<%MainImg.FolderPath%>|"
                     u"<%MainImg.FolderName%>|<%MainImg.PathNameExt%>"),
            u"img_01|C:\\Shows\\Holiday\\img_01|img_01.jpg|C:\\Shows\\Holiday\\|Holiday|"
            u"C:\\Shows\\Holiday\\img_01.jpg");
  EXPECT_EQ(o.Expand(u"<%MainImg.Exif.Date%> at <%MainImg.Exif.Time%>"), u"2012:05:17 at 14:03:21");
  o.Values[u"<%MainImg.Exif.Date%>"] = o.Values[u"<%MainImg.Exif.Time%>"] = u"2012:05:17";
  EXPECT_EQ(o.Expand(u"[<%MainImg.Exif.Date%>|<%MainImg.Exif.Time%>]"), u"[2012:05:17|]");

  EXPECT_EQ(MacroFolderName(u"C:img.jpg"), u"");
  EXPECT_EQ(MacroFolderName(u"C:\\img.jpg"), u"");
  EXPECT_EQ(MacroFolderPath(u"img.jpg"), u"");
  EXPECT_EQ(MacroPathName(u"C:\\a.b\\file"), u"C:\\a.b\\file");
  EXPECT_EQ(MacroFileName(u"C:\\a.b\\file"), u"file");
  EXPECT_EQ(MacroFileName(u"/pics/x.tar.gz"), u"x.tar");
  EXPECT_EQ(MacroFolderName(u"/pics/2012/x.jpg"), u"2012");
  EXPECT_EQ(MacroFileNameExt(u"C:\\dir\\"), u"");
}

TEST(TextMacros, ResolverAnswersFromSlideAndPictureFacts) {
  const Bytes file = PictureFile();
  int opened = 0;
  TMacroSlideFacts facts;
  facts.SlideIndex = 0;
  facts.SlidesCount = 5;
  facts.HasPicture = true;
  facts.PicturePath = u"C:\\Shows\\Holiday\\img_01.jpg";
  facts.PictureWidth = 640;
  facts.PictureHeight = 480;
  facts.OpenPicture = [&] {
    ++opened;
    return zmtest::MemoryStreamOf(file);
  };
  auto resolver = zm::MakeRef<TMacroResolver>(facts);
  auto parser = zm::MakeRef<TMTParser>(resolver->Callback());
  resolver = nullptr;  // the callback keeps it
  EXPECT_EQ(parser->Expand(u"<%SlideIndex%>/<%SlidesCount%> <%MainImg.Width%>x<%MainImg.Height%> <%MainImg.FileName%>"),
            u"1/5 640x480 img_01");
  EXPECT_EQ(parser->Expand(u"<%MainImg.Exif.Description%>|<%MainImg.Exif.Date%>|<%MainImg.Exif.Time%>|"
                           u"<%MainImg.IPTC.AuthorByline%>|<%MainImg.IPTC.City%>|<%MainImg.Exif.Comment%>|"
                           u"<%MainImg.IPTC.Country%>|<%Other%>"),
            u"Pier|2012:05:17|14:03:21|Ann|<%MainImg.IPTC.City%>|||<%Other%>");
  EXPECT_EQ(opened, 1);

  // Without metadata access, without a picture, and with a damaged file.
  facts.OpenPicture = nullptr;
  parser->GetValue = zm::MakeRef<TMacroResolver>(facts)->Callback();
  EXPECT_EQ(parser->Expand(u"<%MainImg.FileNameExt%>|<%MainImg.IPTC.AuthorByline%>"), u"img_01.jpg|");
  facts.HasPicture = false;
  parser->GetValue = zm::MakeRef<TMacroResolver>(facts)->Callback();
  EXPECT_EQ(parser->Expand(u"<%SlideIndex%>|<%MainImg.Width%>|<%MainImg.PathNameExt%>"), u"1||");
  facts.HasPicture = true;
  for (const Bytes& bad : {Bytes{'G', 'I', 'F', '8'}, Bytes(file.begin(), file.begin() + 60), Bytes{}}) {
    facts.OpenPicture = [&bad] { return zmtest::MemoryStreamOf(bad); };
    parser->GetValue = zm::MakeRef<TMacroResolver>(facts)->Callback();
    EXPECT_NO_THROW(parser->Expand(u"<%MainImg.IPTC.AuthorByline%><%MainImg.Exif.Date%>"));
  }
  facts.OpenPicture = [] { return zm::TRef<zm::TStream>(); };
  parser->GetValue = zm::MakeRef<TMacroResolver>(facts)->Callback();
  EXPECT_EQ(parser->Expand(u"<%MainImg.IPTC.City%>"), u" ");
}

}  // namespace text_macros_test
