// DownloadFile and UploadData through the control, against the bus card
// and on a simulated control.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "card_fixture.h"
#include "platform/text_file.h"

namespace zimo::vocto::testing {
namespace {

namespace fs = std::filesystem;

class VoctoTransferTest : public VoctoCardTest {
 protected:
  void Source(const std::string& text) {
    std::ofstream(work_ / "main.pmc", std::ios::binary) << text;
  }
  std::string File(const std::string& name) {
    auto bytes = platform::ReadFileBytes(work_ / name);
    return bytes.ok() ? *bytes : "<missing " + name + ">";
  }
  // What the card received, without the control characters of the link.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (const std::string& l : Log()) {
      if (!l.empty() && l[0] != '^') lines.push_back(l);
    }
    return lines;
  }
  bool Download(int32_t options) { return control().DownloadFile(Bstr(u"main.pmc"), options); }
};

TEST_F(VoctoTransferTest, TheCardGetsClsThenEachRecordsTextBeforeItsComment) {
  MakeBus();
  Source("#define V 7\nP1=V\n\nP2=2 ; two\n");
  card().script().ClearLog();
  EXPECT_TRUE(Download(0));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"cls", "P1=7  ", "P2=2   "}));
  EXPECT_EQ(card().PVar(2), 2);
  EXPECT_TRUE(errors_.empty());
}

TEST_F(VoctoTransferTest, ACardErrorWithAbortStopsAfterItsLine) {
  MakeBus();
  Source("P1=1\nP2=2\nP3=3\nP4=4\n");
  card().script().FailLinesMatching("P3", 3);
  card().script().ClearLog();
  EXPECT_FALSE(Download(0x10));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"cls", "P1=1  ", "P2=2  ", "P3=3  "}));
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "Download aborted.");
  EXPECT_EQ(boxes_.last()->caption, "Notice");
  EXPECT_EQ(boxes_.last()->flags, platform::kMbOk | platform::kMbIconInformation);
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{5003, "Download Failed"}}));
}

TEST_F(VoctoTransferTest, ACardErrorWithoutAbortSendsEverythingLogsItAndFails) {
  MakeBus();
  Source("P1=1\nP2=2\nP3=3\nP4=4\n");
  card().script().FailLinesMatching("P3", 3);
  card().script().ClearLog();
  EXPECT_FALSE(Download(0));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"cls", "P1=1  ", "P2=2  ", "P3=3  ", "P4=4  "}));
  EXPECT_EQ(File("errors.txt"),
            platform::ToCrLf("Preprocessing file \"main.pmc\"...\n"
                             "\n\nNow downloading \"main.out\" to ZIMO...\n"
                             "Error in file \"main.pmc\", line 3: P3=3\n"
                             " This line was downloaded as: P3=3  \n"
                             " Error description: Syntax error, unrecognized command, or bad "
                             "program structure (i.e. missing ENDIF or ENDWHILE)\n\n"
                             "\n\n;  *** End of File ***\n"));
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{5003, "Download Failed"}}));
  EXPECT_EQ(boxes_.count(), 0u);
}

TEST_F(VoctoTransferTest, ALongRecordReachesTheCardWhole) {
  MakeBus();
  std::string expression = "P1=1";
  while (expression.size() < 150) expression += "+1";
  Source(expression + "\n");
  card().script().ClearLog();
  EXPECT_TRUE(Download(0));
  // The record is over 300 characters with its reference.
  auto out = platform::ReadLines(work_ / "main.out");
  ASSERT_TRUE(out.ok());
  ASSERT_GT((*out)[1].size(), 300u);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"cls", expression + "  "}));
}

TEST_F(VoctoTransferTest, OptionsPreprocessOnlyDeleteCleanAndOfferErrors) {
  MakeBus();
  Source("#define V 7\nP1=V\n");
  card().script().ClearLog();
  EXPECT_TRUE(Download(0x01));
  EXPECT_TRUE(Lines().empty());
  EXPECT_TRUE(fs::exists(work_ / "main.out"));
  EXPECT_TRUE(fs::exists(work_ / "main.map"));

  EXPECT_TRUE(Download(0x08));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"cls", "P1=7  "}));
  EXPECT_FALSE(fs::exists(work_ / "main.out"));
  EXPECT_FALSE(fs::exists(work_ / "main.map"));
  EXPECT_FALSE(fs::exists(work_ / "errors.txt"));

  // With 0x04 as well a clean run keeps its output and MAP files.
  card().script().ClearLog();
  EXPECT_TRUE(Download(0x04 | 0x08));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"cls", "P1=7  "}));
  EXPECT_TRUE(fs::exists(work_ / "main.out"));
  EXPECT_TRUE(fs::exists(work_ / "main.map"));
  EXPECT_EQ(boxes_.count(), 0u);

  std::vector<std::string> viewed;
  Services().start_viewer = [&](const std::string& path) { viewed.push_back(path); };
  Source("#foo\nP1=1\n");
  boxes_.QueueAnswer(platform::kIdYes);
  EXPECT_FALSE(Download(0x04 | 0x08));
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "There are error(s) in the download.  View them now?");
  EXPECT_EQ(boxes_.last()->caption, "Download Error(s)");
  EXPECT_EQ(boxes_.last()->flags, platform::kMbYesNo | platform::kMbIconQuestion);
  EXPECT_EQ(viewed, (std::vector<std::string>{"errors.txt"}));
  EXPECT_TRUE(fs::exists(work_ / "errors.txt"));  // kept: the run was not clean
}

TEST_F(VoctoTransferTest, AnEmptyFileNameRaises5003) {
  MakeBus();
  EXPECT_FALSE(control().DownloadFile(Bstr(), 0));
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{5003, "Download Failed"}}));
  EXPECT_EQ(control().card_record()->last_error, 5003);
}

// --- upload -------------------------------------------------------------------

TEST_F(VoctoTransferTest, UploadWritesTheResponseLinesBetweenHeaderAndTrailer) {
  MakeBus();
  card().SetIVar(10, 3713707);
  card().SetIVar(11, 8);
  EXPECT_TRUE(control().UploadData(Bstr(u"up.txt"), Bstr(u"I10 I11"), 0, 0));
  EXPECT_EQ(File("up.txt"),
            platform::ToCrLf(";This file was generated by the UploadData function.\n"
                             ";The command sent to ZIMO was \"I10 I11\".\n"
                             ";Here are ZIMO's responses:\n\n"
                             "3713707\n8\n"
                             "\n"  // the bus channel reads the ACK as one more, empty line
                             "; *** End of Upload ***\n"));
  // Only the lines, appended.
  EXPECT_TRUE(control().UploadData(Bstr(u"up.txt"), Bstr(u"I11"), 0x01 | 0x04, 0));
  EXPECT_TRUE(File("up.txt").ends_with(platform::ToCrLf("; *** End of Upload ***\n8\n\n")));
  EXPECT_TRUE(control().UploadData(Bstr(u"only.txt"), Bstr(u"I11"), 0x01, 0));
  EXPECT_EQ(File("only.txt"), platform::ToCrLf("8\n\n"));
  EXPECT_TRUE(errors_.empty());
}

TEST_F(VoctoTransferTest, UploadOnASimulatedControlWritesTheNote) {
  Make();
  ASSERT_NE(control().card_record(), nullptr);
  EXPECT_TRUE(control().UploadData(Bstr(u"sim.txt"), Bstr(u"LIST GATHER"), 0, 10));
  EXPECT_EQ(File("sim.txt"),
            platform::ToCrLf(";This file was generated by the UploadData function.\n"
                             ";The command sent to ZIMO was \"LIST GATHER\".\n"
                             ";Here are ZIMO's responses:\n\n"
                             ";NOTE- This upload was performed with SIMULATED communications.\n\n"
                             "; *** End of Upload ***\n"));
}

TEST_F(VoctoTransferTest, UploadFailuresRaise5002) {
  Make();
  EXPECT_FALSE(control().UploadData(Bstr(u"no/such/dir/x.txt"), Bstr(u"I10"), 0, 0));
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "Unable to create output file!");
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{5002, "Upload Failed"}}));
  // Without a card record.
  Put("Enabled", Variant(false));
  ASSERT_EQ(control().card_record(), nullptr);
  errors_.clear();
  EXPECT_FALSE(control().UploadData(Bstr(u"y.txt"), Bstr(u"I10"), 0, 0));
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{5002, "Upload Failed"}}));
  EXPECT_EQ(PGetLastGlobalError(), 5002);
  EXPECT_FALSE(fs::exists(work_ / "y.txt"));
}

}  // namespace
}  // namespace zimo::vocto::testing
