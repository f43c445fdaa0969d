#pragma once

// What a trend is opened with, and adding it to a trend window: the
// variables selected in an inspector's grid or the Explorer's tree, or
// dropped on a trend, become traces. A variable the engineer picked one by
// one and the trend refuses (a string, an item the control does not know)
// is reported by name; from a whole header only the numeric variables are
// taken and its strings are passed over without a word, since the engineer
// asked for the header, not for each of them.
//
// Devices are borrowed from the control connection. Thread: GUI thread.
// Adding reads item attributes and waits with the event loop running.

#include <vector>

#include <QString>
#include <QStringList>

namespace orvane {

class TDuxlaneTreeView;
class TInspectorForm;
class TOVVariableList;
class TKIDevice;
class TTrendForm;
class TVariableClipboard;

// The most traces one trend takes: more cannot be told apart, and a header
// or a whole control dropped by mistake must not bury the window.
constexpr int kMaxTrendTraces = 16;

struct TTrendRequest {
    TKIDevice* device = nullptr; // borrowed
    QString itemName;
    // Part of a header: a variable that cannot be plotted is left out quietly.
    bool fromHeader = false;
};

// The rows selected on the inspector's shown sheet, top to bottom.
std::vector<TTrendRequest> TrendRequestsOfInspector(TInspectorForm* form);
// The rows from first to last of a sheet (a drag of rows), clipped to it.
std::vector<TTrendRequest> TrendRequestsOfRows(const TOVVariableList* sheet, int first, int last);
// The selected field of the tree, or every field of the selected header;
// nothing for a root or no selection.
std::vector<TTrendRequest> TrendRequestsOfTree(const TDuxlaneTreeView* tree);
// What the clipboard holds; fromHeader for each when it holds a header.
std::vector<TTrendRequest> TrendRequestsOfClipboard(const TVariableClipboard& clipboard,
                                                    bool fromHeader);

// Adds the requests to the trend in order. Returns the lines that tell the
// engineer what was refused ("BOILER_1: ..."), one per variable, plus one
// line when the cap of traces was reached. *added counts the new traces.
QStringList AddTrendRequests(TTrendForm& form, const std::vector<TTrendRequest>& requests,
                             int* added = nullptr);

// The message for refusals, or empty when there were none.
QString TrendRefusalMessage(const QStringList& refusals);

} // namespace orvane
