// DownloadFile and UploadData with recording dialogs.
#include <fstream>

#include "platform/text_file.h"
#include "voctoks_fixture.h"

namespace zimo::voctoks::testing {
namespace {

using automation::Bstr;

struct DownloadRecord {
  std::vector<std::string> messages;
  std::vector<int> progress;
  int made = 0;
  bool visible = false;
  std::function<void()> on_message;
};

class RecordingDownloadView : public DownloadView {
 public:
  explicit RecordingDownloadView(DownloadRecord& r) : r_(r) {}
  void AddMessage(const std::string& text) override {
    r_.messages.push_back(text);
    if (r_.on_message) r_.on_message();
  }
  void SetProgress(int percent) override { r_.progress.push_back(percent); }

 private:
  DownloadRecord& r_;
};

struct UploadRecord {
  std::string text;
  int32_t range = -1;
  std::vector<int32_t> positions;
  int cancel_after = -1;  // positions seen before Cancel is pressed
};

class RecordingUploadView : public UploadView {
 public:
  explicit RecordingUploadView(UploadRecord& r) : r_(r) {}
  void SetText(const std::string& text) override { r_.text = text; }
  void SetRange(int32_t maximum) override { r_.range = maximum; }
  void SetPosition(int32_t position) override { r_.positions.push_back(position); }
  bool cancelled() const override {
    return r_.cancel_after >= 0 && static_cast<int>(r_.positions.size()) >= r_.cancel_after;
  }

 private:
  UploadRecord& r_;
};

std::string Read(const std::filesystem::path& p) {
  auto bytes = platform::ReadFileBytes(p);
  return bytes.ok() ? *bytes : std::string("<missing>");
}

class VoctoKSTransferTest : public VoctoKSTest {
 protected:
  void SetUp() override {
    VoctoKSTest::SetUp();
    Services().make_download_view = [this](CVoctoKSCtrl&, bool visible) {
      download_.made++;
      download_.visible = visible;
      return std::make_unique<RecordingDownloadView>(download_);
    };
    Services().make_upload_view = [this](CVoctoKSCtrl&, bool) {
      return std::make_unique<RecordingUploadView>(upload_);
    };
    Services().beep = [this] { beeps_++; };
    Services().start_viewer = [this](const std::string& path) { viewer_.push_back(path); };
  }
  bool Download(const std::string& file) { return control_->DownloadFile(Bstr::FromAnsi(file)); }
  bool Upload(const std::string& file, const std::string& command, int32_t lines) {
    return control_->UploadData(Bstr::FromAnsi(file), Bstr::FromAnsi(command), lines);
  }

  DownloadRecord download_;
  UploadRecord upload_;
  int beeps_ = 0;
  std::vector<std::string> viewer_;
};

TEST_F(VoctoKSTransferTest, DownloadHandsTheFileToTheLibraryAndShowsItsReports) {
  CVoctoKSCtrl& c = MakeOpen();
  c.put_DownloadHide(false);
  c.put_DownloadMaxErrors(4);
  fake_->calls.clear();
  fake_->download_messages = {"Compiling", "Done"};
  fake_->download_progress = {3, 5, 5, 7, 10};
  const std::string source = (work_ / "prog.pmc").string();
  EXPECT_TRUE(Download(source));
  EXPECT_EQ(download_.messages, (std::vector<std::string>{"Compiling", "Done"}));
  EXPECT_EQ(download_.progress, (std::vector<int>{5, 10}));
  EXPECT_TRUE(download_.visible);
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{
                              "ZimoSetMaxDownloadErrors(4)",
                              "ZimoDownloadA(0,msg,null,progress," + source + ",1,0,0,1)"}));
}

TEST_F(VoctoKSTransferTest, DownloadGatesAndNames) {
  CVoctoKSCtrl& c = Make();
  EXPECT_FALSE(Download("a.pmc"));  // disabled
  c.put_Enabled(true);              // simulated: nothing to do
  EXPECT_TRUE(Download("a.pmc"));
  EXPECT_EQ(download_.made, 0);
  control_.reset();
  MakeOpen();
  EXPECT_FALSE(Download(""));
  EXPECT_EQ(fake_->Count("ZimoDownloadA"), 0);
  // A hidden download gets no message callback.
  EXPECT_TRUE(Download((work_ / "b.pmc").string()));
  EXPECT_EQ(fake_->Count("ZimoDownloadA(0,null,null,progress,"), 1);
}

TEST_F(VoctoKSTransferTest, AFailedDownloadOffersTheLogOrSaysThereIsNone) {
  CVoctoKSCtrl& c = MakeOpen();
  fake_->download_result = 0;
  c.put_DownloadShowErrors(true);
  c.put_DownloadLog(false);
  EXPECT_FALSE(Download((work_ / "p.pmc").string()));
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "Cannot display error log if not created");
  EXPECT_EQ(boxes_.last()->caption, "Download Error(s)");
  EXPECT_EQ(beeps_, 0);
  EXPECT_TRUE(errors_.empty());  // a failed download raises no error

  c.put_DownloadLog(true);
  boxes_.QueueAnswer(platform::kIdYes);
  EXPECT_FALSE(Download((work_ / "p.pmc").string()));
  EXPECT_EQ(beeps_, 1);
  EXPECT_EQ(boxes_.last()->text, "There are error(s) in the download.  View them now?");
  EXPECT_EQ(boxes_.last()->caption, "Download Error(s)");
  EXPECT_EQ(boxes_.last()->flags, platform::kMbYesNo | platform::kMbIconQuestion);
  EXPECT_EQ(viewer_, (std::vector<std::string>{(work_ / "p.LOG").string()}));
  boxes_.QueueAnswer(platform::kIdNo);
  EXPECT_FALSE(Download((work_ / "p.pmc").string()));
  EXPECT_EQ(viewer_.size(), 1u);
}

TEST_F(VoctoKSTransferTest, DownloadRemovesTheOldLogAndTheTemporaryFilesThatExist) {
  CVoctoKSCtrl& c = MakeOpen();
  for (const char* name : {"p.LOG", "p.EXM", "p.56K", "p.pmc", "p.MAP"}) {
    std::ofstream(work_ / name) << "x";
  }
  c.put_DownloadDeleteTemp(true);
  EXPECT_TRUE(Download((work_ / "p.pmc").string()));
  for (const char* gone : {"p.LOG", "p.EXM", "p.56K"})
    EXPECT_FALSE(std::filesystem::exists(work_ / gone));
  for (const char* kept : {"p.pmc", "p.MAP"}) EXPECT_TRUE(std::filesystem::exists(work_ / kept));
}

TEST_F(VoctoKSTransferTest, ADownloadStartedDuringADownloadIsRefused) {
  CVoctoKSCtrl& c = MakeOpen();
  c.put_DownloadHide(false);
  fake_->download_messages = {"one"};
  std::vector<bool> inner;
  download_.on_message = [&] { inner.push_back(Download((work_ / "q.pmc").string())); };
  EXPECT_TRUE(Download((work_ / "p.pmc").string()));
  EXPECT_EQ(inner, std::vector<bool>{false});
  EXPECT_EQ(fake_->Count("ZimoDownloadA"), 1);
  EXPECT_EQ(download_.made, 1);
}

TEST_F(VoctoKSTransferTest, UploadWritesHeaderResponseLinesAndTrailer) {
  CVoctoKSCtrl& c = MakeOpen();
  c.put_UploadHide(false);
  c.put_UploadShowProgress(true);
  fake_->lines = {"1.5", "2.5", "3.5"};
  EXPECT_TRUE(Upload((work_ / "up.txt").string(), "LIST GATHER", 3));
  EXPECT_EQ(Read(work_ / "up.txt"),
            ";This file was generated by the UploadData function.\r\n"
            ";The command sent to ZIMO was \"LIST GATHER\".\r\n"
            ";Here are ZIMO's responses:\r\n\r\n"
            "1.5\r\n2.5\r\n3.5\r\n"
            "; *** End of Upload ***\r\n");
  EXPECT_EQ(upload_.text, "Executing and uploading data from: LIST GATHER");
  EXPECT_EQ(upload_.range, 3);
  EXPECT_EQ(upload_.positions, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(fake_->calls,
            (std::vector<std::string>{"LockZimo(0)", "ZimoFlush(0)", "ZimoSendLineA(0,LIST GATHER)",
                                      "ReleaseZimo(0)"}));
}

TEST_F(VoctoKSTransferTest, ASimulatedUploadWritesTheNoteAndNoLines) {
  CVoctoKSCtrl& c = Make();
  c.put_Enabled(true);
  fake_->lines = {"never"};
  EXPECT_TRUE(Upload((work_ / "sim.txt").string(), "LIST", 1));
  EXPECT_EQ(Read(work_ / "sim.txt"),
            ";This file was generated by the UploadData function.\r\n"
            ";The command sent to ZIMO was \"LIST\".\r\n"
            ";Here are ZIMO's responses:\r\n\r\n"
            ";NOTE- This upload was performed with SIMULATED communications.\r\n\r\n"
            "; *** End of Upload ***\r\n");
  EXPECT_TRUE(fake_->calls.empty());
}

TEST_F(VoctoKSTransferTest, AppendingKeepsWhatTheFileHeld) {
  CVoctoKSCtrl& c = MakeOpen();
  c.put_UploadAppend(true);
  c.put_UploadNoComments(true);
  std::ofstream(work_ / "a.txt", std::ios::binary) << "old\r\n";
  fake_->lines = {"new"};
  EXPECT_TRUE(Upload((work_ / "a.txt").string(), "P1", 1));
  EXPECT_EQ(Read(work_ / "a.txt"), "old\r\nnew\r\n");
}

TEST_F(VoctoKSTransferTest, TheFortyThousandthLineEndsTheUploadAsAFailure) {
  MakeOpen();
  fake_->lines.assign(39999, "7");
  EXPECT_TRUE(Upload((work_ / "ok.txt").string(), "LIST", 0));
  EXPECT_TRUE(errors_.empty());
  fake_->lines.assign(40001, "7");
  fake_->next_line = 0;
  EXPECT_FALSE(Upload((work_ / "long.txt").string(), "LIST", 0));
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{5002, "Upload Failed"}}));
  EXPECT_EQ(fake_->next_line, 40000u);
}

TEST_F(VoctoKSTransferTest, UploadFailures) {
  CVoctoKSCtrl& c = MakeOpen();
  EXPECT_FALSE(Upload("", "LIST", 1));
  EXPECT_TRUE(errors_.empty());

  EXPECT_FALSE(Upload((work_ / "no" / "such" / "dir.txt").string(), "LIST", 1));
  EXPECT_EQ(boxes_.last()->text, "Unable to create output file!");
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{5002, "Upload Failed"}}));

  // Cancel stops before the next line.
  c.put_UploadHide(false);
  c.put_UploadShowProgress(true);
  fake_->lines = {"a", "b", "c"};
  upload_.cancel_after = 1;
  EXPECT_FALSE(Upload((work_ / "cancel.txt").string(), "LIST", 3));
  EXPECT_EQ(fake_->next_line, 1u);

  // A control whose device is closed (and not simulated) stops after the header.
  c.put_Enabled(false);
  errors_.clear();
  EXPECT_FALSE(Upload((work_ / "closed.txt").string(), "LIST", 1));
  EXPECT_EQ(Read(work_ / "closed.txt"),
            ";This file was generated by the UploadData function.\r\n"
            ";The command sent to ZIMO was \"LIST\".\r\n"
            ";Here are ZIMO's responses:\r\n\r\n");
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{5002, "Upload Failed"}}));

  // A dialog that cannot be made.
  Services().make_upload_view = [](CVoctoKSCtrl&, bool) { return std::unique_ptr<UploadView>(); };
  errors_.clear();
  EXPECT_FALSE(Upload((work_ / "x.txt").string(), "LIST", 1));
  EXPECT_EQ(errors_, (std::vector<ErrorEvent>{{1001, "Ran Out of Memory"}}));
}

}  // namespace
}  // namespace zimo::voctoks::testing
