// The download's preprocessor against golden files: the output, MAP and
// error files byte for byte (text mode: every line ends in CR LF).
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/text_file.h"
#include "transfer.h"
#include "vocto_fixture.h"

namespace zimo::vocto::testing {
namespace {

namespace fs = std::filesystem;

class PreprocessorTest : public VoctoTest {
 protected:
  void Source(const std::string& name, const std::string& text) {
    std::ofstream(work_ / name, std::ios::binary) << text;
  }
  // Preprocesses main.pmc without sending (no card record).
  bool Run(int32_t options = 0) {
    VoctoDownloadDialog dialog(options, nullptr, nullptr);
    return dialog.Run("main.pmc");
  }
  std::string File(const std::string& name) {
    auto bytes = platform::ReadFileBytes(work_ / name);
    return bytes.ok() ? *bytes : "<missing " + name + ">";
  }
  static std::string Crlf(const std::string& text) { return platform::ToCrLf(text); }
  // The output file: the header, the records, the trailer.
  static std::string Out(const std::string& records) {
    return Crlf(";Preprocessing file \"main.pmc\"...\n" + records +
                "\n\n;Now downloading \"main.out\" to ZIMO...\n");
  }
  static std::string Errors(const std::string& reports, bool trailer) {
    return Crlf("Preprocessing file \"main.pmc\"...\n" + reports +
                "\n\nNow downloading \"main.out\" to ZIMO...\n" +
                (trailer ? "\n\n;  *** End of File ***\n" : ""));
  }
  static std::string MapLine(const char* name, const char* definition) {
    char line[200];
    std::snprintf(line, sizeof line, "#define %-40s %-40s %s\n", name, definition, "main.pmc");
    return line;
  }
};

TEST_F(PreprocessorTest, AMacroIsSubstitutedAndTheMapListsIt) {
  Source("main.pmc", "#define MAX 100\nX=MAX\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Out("X=100  ; file \"main.pmc\", line 2: X=MAX\n\n"));
  EXPECT_EQ(File("errors.txt"), Errors("", false));
  EXPECT_EQ(File("main.map"),
            Crlf(";******* MAP File for file 'main.pmc'\n\n"
                 ";  Total macro definitions: 1\n\n"
                 ";  Macro names sorted by name:\n" +
                 MapLine("MAX", "100") + "\n\n;  Macro names sorted by macro definition:\n" +
                 MapLine("MAX", "100") + "\n\n;  *** End of File ***\n"));
}

TEST_F(PreprocessorTest, ChainsFollowAndTheMapSortsByNameAndByDefinition) {
  Source("main.pmc", "#define A B\n#define B 7\nY=A+1\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Out("Y=7+1  ; file \"main.pmc\", line 3: Y=A+1\n\n"));
  EXPECT_EQ(File("main.map"),
            Crlf(";******* MAP File for file 'main.pmc'\n\n"
                 ";  Total macro definitions: 2\n\n"
                 ";  Macro names sorted by name:\n" +
                 MapLine("A", "B") + MapLine("B", "7") +
                 "\n\n;  Macro names sorted by macro definition:\n" + MapLine("B", "7") +
                 MapLine("A", "B") + "\n\n;  *** End of File ***\n"));
}

TEST_F(PreprocessorTest, DefinitionForms) {
  Source("main.pmc",
         "#define FLAG\n"  // NULL: defined
         "#define GAP \n"  // a blank before the end: nothing
         "#define MAX 100\n"
         "#define MAX 5\n"        // ignored
         "#define NAME\tVALUE\n"  // the tab ends the name
         "#ifdef FLAG\nF=1\n#endif\n"
         "#ifdef GAP\nG=1\n#endif\n"
         "W=MAX\nV=NAME\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Out("F=1  ; file \"main.pmc\", line 7: F=1\n\n"
                                  "W=100  ; file \"main.pmc\", line 12: W=MAX\n\n"
                                  "V=VALUE  ; file \"main.pmc\", line 13: V=NAME\n\n"));
  const std::string map = File("main.map");
  EXPECT_NE(map.find(Crlf(MapLine("FLAG", "NULL"))), std::string::npos);
  EXPECT_NE(map.find(";  Total macro definitions: 3"), std::string::npos);
}

TEST_F(PreprocessorTest, CardTextPassesAndAnUnknownDirectiveIsDroppedWithAWarning) {
  Source("main.pmc", "#1J+\n#foo\n");
  EXPECT_TRUE(Run());  // a warning alone keeps the result
  EXPECT_EQ(File("main.out"), Out("#1J+  ; file \"main.pmc\", line 1: #1J+\n\n"));
  EXPECT_EQ(File("errors.txt"), Errors("Warning in \"main.pmc\", line 2:   #foo\n"
                                       " Description: unknown preprocessor directive\n\n",
                                       true));
  EXPECT_FALSE(fs::exists(work_ / "main.map"));  // no macro
}

TEST_F(PreprocessorTest, BuiltInMacrosExpandAndABlankBeforeTheCommaIsAnError) {
  Source("main.pmc",
         "@SET_ON(M1,M2)\n@START_TIMER(P10,250)\n@ON(M1 ,M2)\n@timer_running(P3)\n@SET_OFF(A)\n");
  EXPECT_FALSE(Run());  // errors make the run fail
  EXPECT_EQ(File("main.out"),
            Out("M1=M1|M2  ; file \"main.pmc\", line 1: M1=M1|M2\n\n"
                "P10=250*8388608/I10  ; file \"main.pmc\", line 2: P10=250*8388608/I10\n\n"
                "P3>0  ; file \"main.pmc\", line 4: P3>0\n\n"));
  EXPECT_EQ(File("errors.txt"), Errors("ERROR in \"main.pmc\", line 3:   @ON(M1 ,M2)\n"
                                       " Description: missing second parameter\n\n"
                                       "ERROR in \"main.pmc\", line 5:   @SET_OFF(A)\n"
                                       " Description: missing second parameter\n\n",
                                       true));
}

TEST_F(PreprocessorTest, ConditionalsAreOneLevelDeepAndWarnWhenUnmatched) {
  Source("main.pmc",
         "#else\n#endif\n"
         "#ifdef NOPE\n#define D 4\nA=1\n"  // skipped, but the definition counts
         "#ifdef NOPE2\nB=1\n#endif\n"      // this #endif ends the outer skip too
         "C=D\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Out("C=4  ; file \"main.pmc\", line 9: C=D\n\n"));
  EXPECT_EQ(File("errors.txt"),
            Errors("Warning in \"main.pmc\", line 1:   #else\n"
                   " Description: use of #else without '#ifdef' or '#ifndef'\n\n"
                   "Warning in \"main.pmc\", line 2:   #endif\n"
                   " Description: use of #endif without '#ifdef' or '#ifndef'\n\n"
                   "Warning in \"main.pmc\", line 9:   C=D\n"
                   " Description: unmatched number of '#endif's\n\n",
                   true));
}

TEST_F(PreprocessorTest, CommentsEndTheLineAndASelfIncludeIsReadOnce) {
  Source("main.pmc", "X=5;comment\n; only a comment\n#include \"main.pmc\"\nY=6 // more\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Out("X=5  ; file \"main.pmc\", line 1: X=5\n"
                                  "Y=6   ; file \"main.pmc\", line 4: Y=6 \n"));
}

TEST_F(PreprocessorTest, ALastLineWithoutItsLineEndKeepsItsLastWord) {
  Source("main.pmc", "#define MAX 100\nX=MAX");
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Out("X=100  ; file \"main.pmc\", line 2: X=MAX\n"));
}

TEST_F(PreprocessorTest, IncludedFilesAreMarkedAndTheirMacrosKnown) {
  Source("defs.h", "#define SPEED 40\n");
  Source("main.pmc", "#include <defs.h>\nI122=SPEED\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Crlf(";Preprocessing file \"main.pmc\"...\n"
                                   ";Preprocessing #include file \"defs.h\"...\n"
                                   "I122=40  ; file \"main.pmc\", line 2: I122=SPEED\n\n"
                                   "\n\n;Now downloading \"main.out\" to ZIMO...\n"));
  EXPECT_NE(File("main.map").find(Crlf("#define SPEED")), std::string::npos);
}

TEST_F(PreprocessorTest, ASelfReferentialChainEndsWithAWarning) {
  Source("main.pmc", "#define LOOP NEXT\n#define NEXT LOOP\nZ=LOOP\n");
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Out("Z=LOOP  ; file \"main.pmc\", line 3: Z=LOOP\n\n"));
  EXPECT_EQ(File("errors.txt"),
            Errors("Warning in \"main.pmc\", line 3:   Z=LOOP\n"
                   " Description: macro definition leads back to a name already expanded; left "
                   "as written\n\n",
                   true));
}

TEST_F(PreprocessorTest, AnExpansionPastTheLineBufferStopsAt255) {
  const std::string wide(100, 'W');
  Source("main.pmc", "#define BIG " + wide + "\nQ=BIG+BIG+BIG\n");
  EXPECT_FALSE(Run());
  const std::string kept = ("Q=" + wide + "+" + wide + "+" + wide).substr(0, 255);
  EXPECT_EQ(File("main.out"), Out(kept + "  ; file \"main.pmc\", line 2: Q=BIG+BIG+BIG\n\n"));
  EXPECT_NE(File("errors.txt").find("line longer than 255 characters; cut at 255"),
            std::string::npos);
}

TEST_F(PreprocessorTest, AMissingIncludeAsksAndNoAborts) {
  Source("main.pmc", "#include x.pmc\nP1=1\n");
  boxes_.QueueAnswer(platform::kIdNo);
  EXPECT_FALSE(Run());
  ASSERT_EQ(boxes_.count(), 2u);
  EXPECT_EQ(boxes_.boxes()[0].text, "\r\nUnable to open file \"x.pmc\".\r\n    Continue anyway?");
  EXPECT_EQ(boxes_.boxes()[0].caption, "File Open Error");
  EXPECT_EQ(boxes_.boxes()[0].flags, platform::kMbYesNo | platform::kMbIconExclamation);
  EXPECT_EQ(boxes_.boxes()[1].text, "Download aborted.");
  EXPECT_EQ(boxes_.boxes()[1].caption, "Notice");
  // Yes goes on without the file.
  boxes_.Clear();
  boxes_.QueueAnswer(platform::kIdYes);
  EXPECT_TRUE(Run());
  EXPECT_EQ(File("main.out"), Out("P1=1  ; file \"main.pmc\", line 2: P1=1\n\n"));
}

TEST_F(PreprocessorTest, AnOutputFileThatCannotBeMadeEndsTheRun) {
  Source("main.pmc", "P1=1\n");
  fs::create_directories(work_ / "main.out");  // a folder where the file should go
  EXPECT_FALSE(Run());
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text, "Unable to create output file!\r\nDownload will be aborted.");
  EXPECT_EQ(boxes_.last()->caption, "File Creation Error");
}

}  // namespace
}  // namespace zimo::vocto::testing
