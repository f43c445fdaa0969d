#include "windows/TrendOpen.h"

#include <algorithm>
#include <optional>

#include "inspector/OVVariable.h"
#include "inspector/VarClipboard.h"
#include "model/KIDevice.h"
#include "model/KIDuxlaneControl.h"
#include "model/KIDuxlaneItem.h"
#include "model/KIItem.h"
#include "platform/Exception.h"
#include "windows/DuxlaneTreeView.h"
#include "windows/InspectorForm.h"
#include "windows/OVGrid.h"
#include "windows/TrendForm.h"
#include "windows/TrendValue.h"
#include "windows/WindowsLog.h"

namespace orvane {

namespace {

// Whether the variable is one a trend cannot plot. Holds a claim on the item
// meanwhile, so that the trace taken next finds the attributes already read.
class TTypeProbe {
public:
    TTypeProbe(TKIDevice* device, const QString& itemName) : m_device(device) {
        try {
            m_item = device->AcquireItem(itemName);
            if (auto* item = dynamic_cast<TKIDuxlaneItem*>(m_item)) {
                m_notNumeric = !IsTrendable(item->DataType());
            }
        } catch (const Exception& e) {
            // The trace will meet the same failure and tell it.
            qCDebug(lcWindows) << "probing" << itemName << e.message();
        }
    }
    ~TTypeProbe() {
        if (m_item) {
            m_device->ReleaseItem(m_item->Name());
        }
    }
    TTypeProbe(const TTypeProbe&) = delete;
    TTypeProbe& operator=(const TTypeProbe&) = delete;

    bool NotNumeric() const { return m_notNumeric; }

private:
    TKIDevice* m_device;
    TKIItem* m_item = nullptr;
    bool m_notNumeric = false;
};

} // namespace

std::vector<TTrendRequest> TrendRequestsOfRows(const TOVVariableList* sheet, int first, int last) {
    std::vector<TTrendRequest> requests;
    if (!sheet) {
        return requests;
    }
    first = std::max(first, 0);
    last = std::min(last, sheet->Count() - 1);
    for (int row = first; row <= last; ++row) {
        if (const TOVVariable* variable = sheet->Get(row)) {
            requests.push_back({variable->Device(), variable->ItemName(), false});
        }
    }
    return requests;
}

std::vector<TTrendRequest> TrendRequestsOfInspector(TInspectorForm* form) {
    if (!form || !form->Grid()) {
        return {};
    }
    const TOVStringGrid* grid = form->Grid()->StringGrid();
    const int top = grid->SelectionTop();
    if (top < 0) {
        return {};
    }
    return TrendRequestsOfRows(form->Grid()->Sheet(), top, grid->SelectionBottom());
}

std::vector<TTrendRequest> TrendRequestsOfTree(const TDuxlaneTreeView* tree) {
    std::vector<TTrendRequest> requests;
    if (!tree || !tree->Control()) {
        return requests;
    }
    const int node = tree->SelectedNode();
    const TDuxlaneNodeTree& shown = tree->ShownTree();
    if (node < 0 || node >= static_cast<int>(shown.nodes.size())) {
        return requests;
    }
    TKIDevice* device = tree->Control();
    const TDuxlaneNodeTree::Node& n = shown.nodes[static_cast<std::size_t>(node)];
    if (n.level == 2) {
        requests.push_back({device, tree->FullNameOf(node), false});
    } else if (n.level == 1) {
        for (int field : n.children) {
            requests.push_back({device, tree->FullNameOf(field), true});
        }
    }
    return requests;
}

std::vector<TTrendRequest> TrendRequestsOfClipboard(const TVariableClipboard& clipboard,
                                                    bool fromHeader) {
    std::vector<TTrendRequest> requests;
    for (const TVCEntry& entry : clipboard.Entries()) {
        requests.push_back({entry.Device, entry.ItemName, fromHeader});
    }
    return requests;
}

QStringList AddTrendRequests(TTrendForm& form, const std::vector<TTrendRequest>& requests,
                             int* added) {
    QStringList refusals;
    int count = 0;
    for (const TTrendRequest& request : requests) {
        if (!request.device) {
            continue;
        }
        const QString control = request.device->Identifier();
        if (form.Feed().TraceCount() >= kMaxTrendTraces) {
            refusals << QStringLiteral("A trend shows at most %1 variables; the others were "
                                       "left out.")
                            .arg(kMaxTrendTraces);
            break;
        }
        // Only a header's variables are probed; the probe's claim lasts until
        // the trace has taken its own.
        std::optional<TTypeProbe> probe;
        if (request.fromHeader) {
            probe.emplace(request.device, request.itemName);
            if (probe->NotNumeric()) {
                continue;
            }
        }
        const int before = form.Feed().TraceCount();
        QString error;
        if (!form.AddVariable(request.device, request.itemName, &error)) {
            refusals << QStringLiteral("%1: %2").arg(control, error);
            continue;
        }
        count += form.Feed().TraceCount() - before;
    }
    if (added) {
        *added = count;
    }
    return refusals;
}

QString TrendRefusalMessage(const QStringList& refusals) {
    if (refusals.isEmpty()) {
        return {};
    }
    return QStringLiteral("Not every variable could be trended:\n\n") +
           refusals.join(QLatin1Char('\n'));
}

} // namespace orvane
