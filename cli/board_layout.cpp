#include "cli/board_layout.h"

#include <algorithm>
#include <cstdio>

#include "cli/line_fitting.h"

namespace fg {

namespace {

struct Layout {
  bool shortNames;
  size_t gap;           // blanks between columns
  size_t imageColumns;  // 0: no image column
};

// From the widest to the narrowest; the board takes the first that fits.
constexpr Layout kLayouts[] = {
    {false, 2, 8},
    {true, 2, 8},
    {true, 1, 7},  // the longest partition name has 7 characters
    {true, 1, 0},
};
constexpr size_t kPercentColumns = 4;  // "100%"

size_t NameColumns(const std::vector<BoardRowFields>& rows, bool shortNames) {
  size_t columns = 0;
  for (const BoardRowFields& r : rows) {
    columns = std::max(columns, VisibleColumns(shortNames ? r.shortName : r.resource));
  }
  return columns;
}

// The columns before the state.
size_t LeadColumns(const std::vector<BoardRowFields>& rows, const Layout& layout) {
  size_t columns = NameColumns(rows, layout.shortNames) + layout.gap + kPercentColumns + layout.gap;
  if (layout.imageColumns > 0) columns += layout.imageColumns + layout.gap;
  return columns;
}

std::string Padded(const std::string& text, size_t columns) {
  const std::string cut = CutToColumns(text, columns);
  return cut + std::string(columns - VisibleColumns(cut), ' ');
}

std::string Row(const BoardRowFields& r, const Layout& layout, size_t nameColumns,
                size_t stateColumns) {
  const std::string gap(layout.gap, ' ');
  std::string text = Padded(layout.shortNames ? r.shortName : r.resource, nameColumns) + gap;
  if (layout.imageColumns > 0) {
    text += Padded(r.image.empty() ? "-" : r.image, layout.imageColumns) + gap;
  }
  char percent[16];
  std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(r.percent));
  return text + percent + gap + CutAtWord(r.state, stateColumns);
}

// The fields of "USB0::0x2E5B::0x3A01::SERIAL::INSTR", split at "::".
std::vector<std::string> Fields(const std::string& resource) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at; (at = resource.find("::", start)) != std::string::npos; start = at + 2) {
    fields.push_back(resource.substr(start, at - start));
  }
  fields.push_back(resource.substr(start));
  return fields;
}

std::string SerialOf(const std::string& resource) {
  const std::vector<std::string> f = Fields(resource);
  const bool usb = !f.empty() && f[0].rfind("USB", 0) == 0;
  if (!usb || (f.size() != 5 && f.size() != 6) || f.back() != "INSTR" || f[3].empty()) {
    return resource;
  }
  return f[3];
}

}  // namespace

std::vector<std::string> ShortResourceNames(const std::vector<std::string>& resources) {
  std::vector<std::string> serials;
  for (const std::string& r : resources) serials.push_back(SerialOf(r));
  std::vector<std::string> names;
  for (size_t i = 0; i < resources.size(); ++i) {
    const bool shared = std::count(serials.begin(), serials.end(), serials[i]) > 1;
    names.push_back(shared ? resources[i] : serials[i]);
  }
  return names;
}

size_t BoardMinColumns(const std::vector<BoardRowFields>& rows) {
  return LeadColumns(rows, kLayouts[std::size(kLayouts) - 1]) + kBoardStateMinColumns;
}

std::vector<std::string> LayOutBoard(const std::vector<BoardRowFields>& rows, size_t limit) {
  if (limit < BoardMinColumns(rows)) return {};
  const Layout* chosen = &kLayouts[std::size(kLayouts) - 1];
  for (const Layout& layout : kLayouts) {
    if (LeadColumns(rows, layout) + kBoardStateColumns <= limit) {
      chosen = &layout;
      break;
    }
  }
  const size_t nameColumns = NameColumns(rows, chosen->shortNames);
  const size_t stateColumns = limit - LeadColumns(rows, *chosen);
  std::vector<std::string> lines;
  for (const BoardRowFields& r : rows) lines.push_back(Row(r, *chosen, nameColumns, stateColumns));
  return lines;
}

}  // namespace fg
