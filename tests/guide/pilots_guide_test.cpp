// The pilots' guide in the download (packaging/README.txt) stays true to the program: every text
// the relay shows by name and every kind of sentence the diagnosis gives is explained in its own
// section, and the file reads well in Notepad on an old Windows.
#include "shell/shown_texts.h"
#include "traffic/relay_stats_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> GuideLines() {
    std::ifstream file(SKYRELAY_GUIDE_FILE, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// Runs of blanks and line ends become one blank, so that a text the guide wraps still matches.
std::string Flattened(const std::string& text) {
    std::string out;
    for (char c : text) {
        bool blank = c == ' ' || c == '\n';
        if (blank && (out.empty() || out.back() == ' '))
            continue;
        out += blank ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The guide's sections by heading (a line underlined with as many dashes), each flattened.
std::map<std::string, std::string> Sections(const std::vector<std::string>& lines) {
    std::map<std::string, std::string> sections;
    std::string heading;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i + 1 < lines.size() && !lines[i].empty() &&
            lines[i + 1] == std::string(lines[i].size(), '-')) {
            heading = lines[i];
            ++i;
            continue;
        }
        sections[heading] += lines[i] + "\n";
    }
    for (auto& [name, text] : sections)
        text = Flattened(text);
    return sections;
}

// The fixed parts of a text: what lies between its printf conversions, flattened.
std::vector<std::string> FixedParts(const std::string& text) {
    std::vector<std::string> parts{""};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 1 < text.size()) {
            ++i;
            parts.emplace_back();
            continue;
        }
        parts.back() += text[i];
    }
    std::vector<std::string> fixed;
    for (const std::string& part : parts) {
        std::string flat = Flattened(part);
        while (!flat.empty() && (flat.front() == ' ' || flat.front() == '.' || flat.front() == ':'))
            flat.erase(0, 1);
        // A piece as short as "." or ": " tells a reader nothing on its own.
        if (flat.size() > 2)
            fixed.push_back(flat);
    }
    return fixed;
}

const char* SectionOf(ShownTextKind kind) {
    switch (kind) {
    case ShownTextKind::StatusLine:
    case ShownTextKind::Line:
        return "The window";
    case ShownTextKind::MessageBox:
        return "Message boxes";
    }
    return "";
}

TEST(PilotsGuide, ExplainsEveryTextTheRelayShowsAndEverySentenceOfTheDiagnosis) {
    std::map<std::string, std::string> sections = Sections(GuideLines());
    ASSERT_GT(sections.size(), 5u) << SKYRELAY_GUIDE_FILE << " is missing or has no sections";
    std::vector<std::string> unexplained;
    for (const ShownText& shown : ShownTexts()) {
        const std::string& section = sections[SectionOf(shown.kind)];
        for (const std::string& part : FixedParts(shown.text))
            if (section.find(part) == std::string::npos)
                unexplained.push_back(std::string(shown.name) + " in \"" + SectionOf(shown.kind) +
                                      "\": " + part);
    }
    const std::string& diagnosis = sections["When no aircraft show"];
    for (const DiagnosisKind& kind : DiagnosisKinds())
        if (diagnosis.find(Flattened(kind.phrase)) == std::string::npos)
            unexplained.push_back(std::string("diagnosis ") + kind.id +
                                  " in \"When no aircraft show\": " + kind.phrase);
    EXPECT_TRUE(unexplained.empty()) << [&] {
        std::ostringstream list;
        for (const std::string& missing : unexplained)
            list << "not explained: " << missing << "\n";
        return list.str();
    }();
}

// Notepad on Windows XP neither wraps nor shows anything but ASCII well; the quick start must be
// on the first screen.
TEST(PilotsGuide, FitsNotepadWithTheQuickStartOnTheFirstScreen) {
    std::vector<std::string> lines = GuideLines();
    ASSERT_FALSE(lines.empty());
    std::size_t quickStart = 0;
    for (std::size_t i = 0; i + 1 < lines.size() && quickStart == 0; ++i)
        if (lines[i] == "Quick start" && lines[i + 1] == std::string(11, '-'))
            quickStart = i + 1;
    EXPECT_TRUE(quickStart != 0 && quickStart <= 40)
        << "the Quick start heading is on line " << quickStart << ", not within 40";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), 78u) << "line " << i + 1 << ": " << lines[i];
        for (char c : lines[i])
            EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << "line " << i + 1 << " holds byte "
                                                << static_cast<int>(static_cast<unsigned char>(c));
    }
}

} // namespace
