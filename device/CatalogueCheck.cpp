// SPDX-License-Identifier: MIT
#include "device/CatalogueCheck.h"

#include "device/Catalogue.h"
#include "device/LineReader.h"

#include <cstdio>
#include <map>
#include <memory>

namespace {

constexpr int kColumns = 14;
constexpr int kTagsPerWord = 14;

std::vector<std::string_view> tabColumns(std::string_view line) {
    std::vector<std::string_view> columns;
    for (auto tab = line.find('\t'); tab != std::string_view::npos; tab = line.find('\t')) {
        columns.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    return columns;
}

// The decimal reader takes "18pin" as 18 without a word; an author who wrote it meant something.
bool isWholeNumber(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

bool isHexNumber(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

std::string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", value);
    return text;
}

// Tags are "[...]" one after the other; text outside brackets silently joins the next tag and
// moves every later bit by none, so it is almost always a typing slip.
void checkTags(std::string_view tags, int family, const auto& problem) {
    int count = 0;
    bool stray = false;
    while (!tags.empty()) {
        const auto close = tags.find(']');
        if (close == std::string_view::npos) {
            stray = true;
            break;
        }
        if (tags.front() != '[' || tags.substr(1, close).find('[') != std::string_view::npos)
            stray = true;
        ++count;
        tags.remove_prefix(close + 1);
    }
    if (stray) problem("column 4 has text outside the [tag] brackets", true);
    const int expected = family == 2 ? 2 * kTagsPerWord : kTagsPerWord;
    if (count != expected)
        problem("column 4 has " + std::to_string(count) + " configuration bit tags, needs " +
                    std::to_string(expected) + (family == 2 ? " (14 per word, family 2 has two words)" : ""),
                true);
}

}  // namespace

std::vector<CatalogueProblem> checkCatalogueLine(std::string_view line, int lineNumber) {
    std::vector<CatalogueProblem> problems;
    const DeviceRecord r = parseCatalogueLine(line);
    auto problem = [&](std::string text, bool error) {
        // The selection names its first refusal itself; the checks below may meet it again.
        for (const CatalogueProblem& known : problems)
            if (known.problem == text) return;
        problems.push_back({lineNumber, r.name, std::move(text), error});
    };

    const auto columns = tabColumns(line);
    if (columns.size() < kColumns) {
        // Every later check would only repeat that the missing columns read as empty.
        problem("has " + std::to_string(columns.size()) + " TAB-ended columns, needs " +
                    std::to_string(kColumns),
                true);
        return problems;
    }

    // The rules a selection applies come first, in its own words.
    if (!r.valid) problem(r.invalidReason, true);
    if (r.name.empty()) problem("column 1 (the device name) is empty", true);

    const int decimalColumns[] = {3, 5, 6, 7, 8, 9, 10, 11, 12};
    for (int c : decimalColumns)
        if (!isWholeNumber(columns[c - 1]))
            problem("column " + std::to_string(c) + " \"" + std::string(columns[c - 1]) +
                        "\" is not a whole number",
                    true);
    const auto colon = columns[1].find(':');
    if (colon == std::string_view::npos || !isWholeNumber(columns[1].substr(0, colon)) ||
        !isWholeNumber(columns[1].substr(colon + 1)))
        problem("column 2 \"" + std::string(columns[1]) + "\" is not WORDS:BITS", true);

    if (r.programWordCount == 0) problem("program memory of 0 words", true);
    if (r.wordBits != 14)
        problem("program words of " + std::to_string(r.wordBits) +
                    " bits; this programmer writes 14-bit words",
                true);

    checkTags(columns[3], r.family, problem);

    if (r.entrySequence < 0 || r.entrySequence > 2)
        problem("entry sequence " + std::to_string(r.entrySequence) + " is not 0, 1 or 2", true);
    if (r.programMethod < 0 || r.programMethod > 2)
        problem("program write method " + std::to_string(r.programMethod) +
                    " is not 0, 1 or 2: program memory would never be written",
                true);
    if (r.eepromByteCount > 0 && (r.eepromMethod < 0 || r.eepromMethod > 1))
        problem("EEPROM write method " + std::to_string(r.eepromMethod) +
                    " is not 0 or 1: EEPROM would never be written",
                true);
    if (r.family < 0 || r.family > 2)
        problem("family " + std::to_string(r.family) +
                    " is not 0, 1 or 2: the user ID and configuration word would never be written",
                true);
    // A last, partial block would be written from beyond the end of program memory.
    if (r.programMethod == 2 && r.blockWords > 0 && r.blockWords <= 11 &&
        r.programWordCount % r.blockWords != 0)
        problem("program memory of " + std::to_string(r.programWordCount) +
                    " words is not a whole number of blocks of " + std::to_string(r.blockWords),
                true);
    if (r.eraseMethod < 0 || r.eraseMethod > 4)
        problem("erase method " + std::to_string(r.eraseMethod) + " is not 0 to 4", true);
    if (r.reservedValue != 0) problem("column 10 is reserved and should be 0", false);

    const std::string_view calibration = columns[12];
    if (calibration != ":") {
        const auto sep = calibration.find(':');
        if (sep == std::string_view::npos || !isHexNumber(calibration.substr(0, sep)) ||
            !isHexNumber(calibration.substr(sep + 1)))
            problem("column 13 \"" + std::string(calibration) +
                        "\" is not ADDRESS:MASK in hexadecimal, nor \":\" for a chip without calibration",
                    true);
        if (r.calibrationBitsMask & ~r.configKeepMask)
            problem("calibration bits " + hex(r.calibrationBitsMask) +
                        " include bits column 4 marks as not implemented",
                    true);
    }

    const std::string_view id = columns[13];
    if (id.empty() || id.front() != '-') {
        const auto sep = id.find(':');
        if (sep == std::string_view::npos || !isHexNumber(id.substr(0, sep)) ||
            !isHexNumber(id.substr(sep + 1))) {
            problem("column 14 \"" + std::string(id) +
                        "\" is not ID:MASK in hexadecimal, nor \"-\" for a chip without an ID",
                    true);
        } else {
            const unsigned expected = static_cast<unsigned>(r.expectedDeviceId);
            const unsigned mask = static_cast<unsigned>(r.deviceIdMask);
            if (expected & ~mask)
                problem("device ID " + hex(expected) + " has bits outside its mask " + hex(mask) +
                            ": no chip can ever match",
                        true);
            // Bits 3-0 are the silicon revision on every chip of the family (4 or 5 bits).
            if (mask & 0x000F)
                problem("device ID mask " + hex(mask) +
                            " keeps revision bits: a later silicon revision would be refused",
                        true);
            if ((mask & 0x3FF0) == 0)
                problem("device ID mask " + hex(mask) + " lets any chip pass the ID check", true);
        }
    }
    return problems;
}

int CatalogueCheck::errorCount() const {
    int count = 0;
    for (const auto& p : problems) count += p.error ? 1 : 0;
    return count;
}

CatalogueCheck checkCatalogueFile(const std::string& path) {
    CatalogueCheck result;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return result;
    LineReader reader(file.get());
    std::string line;
    std::map<std::string, int> firstLineOf;
    for (int number = 1; reader.next(line); ++number) {
        if (!line.empty() && line.front() == ';') continue;
        ++result.deviceLines;
        auto problems = checkCatalogueLine(line, number);
        const std::string name = line.substr(0, line.find('\t'));
        if (const auto [it, fresh] = firstLineOf.emplace(name, number); !fresh)
            problems.push_back({number, name,
                                "the name is also on line " + std::to_string(it->second) +
                                    "; a selection applies only the later line",
                                true});
        for (auto& p : problems) result.problems.push_back(std::move(p));
    }
    if (reader.failed()) return CatalogueCheck{};
    result.opened = true;
    return result;
}

std::string formatCatalogueProblem(const std::string& file, const CatalogueProblem& p) {
    return file + ":" + std::to_string(p.lineNumber) + ": " + p.device + ": " +
           (p.error ? "" : "warning: ") + p.problem;
}
