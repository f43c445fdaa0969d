#include "windows/DuxlaneTreeView.h"

#include <QAbstractItemModel>
#include <QDrag>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>

#include "inspector/VariableName.h"
#include "model/KIDuxlaneControl.h"
#include "platform/WaitCursorScope.h"
#include "windows/VariableDrag.h"
#include "windows/WindowsLog.h"

namespace orvane {

// ---------------------------------------------------------------- node tree

void TDuxlaneNodeTree::clear() {
    nodes.clear();
    roots.clear();
    names.clear();
    serviceRoot = -1;
    configureRoot = -1;
}

int TDuxlaneNodeTree::addRoot(const QString& text, bool first) {
    const int id = static_cast<int>(nodes.size());
    Node node;
    node.text = text;
    nodes.push_back(std::move(node));
    if (first) {
        roots.insert(roots.begin(), id);
        for (std::size_t i = 0; i < roots.size(); ++i) {
            nodes[roots[i]].row = static_cast<int>(i);
        }
    } else {
        nodes[id].row = static_cast<int>(roots.size());
        roots.push_back(id);
    }
    return id;
}

int TDuxlaneNodeTree::addChild(int parent, const QString& text) {
    const int id = static_cast<int>(nodes.size());
    Node node;
    node.text = text;
    node.parent = parent;
    node.level = nodes[parent].level + 1;
    node.row = static_cast<int>(nodes[parent].children.size());
    nodes.push_back(std::move(node));
    nodes[parent].children.push_back(id);
    if (nodes[id].level == 1) {
        nodes[parent].remembered = id;
    }
    return id;
}

void TDuxlaneNodeTree::build(const QStringList& itemNames) {
    clear();
    names = itemNames;
    nodes.reserve(static_cast<std::size_t>(itemNames.size()) * 11 / 10 + 8);

    int categoryRoot = -1;
    int noCategoryRoot = -1;
    int noBlockNode = -1;
    // Headers and blocks are grouped by runs: a block that comes back under
    // the same root after another one gets a node of its own.
    auto place = [this](int root, const QString& block, const QString& field, int source) {
        int header = nodes[root].remembered;
        if (header < 0 || nodes[header].text != block) {
            header = addChild(root, block);
        }
        nodes[addChild(header, field)].source = source;
    };

    TVariableName name;
    for (qsizetype i = 0; i < itemNames.size(); ++i) {
        name.SetFullName(itemNames.at(i));
        const int source = static_cast<int>(i);
        switch (name.NameKind()) {
        case TVariableName::KindService:
            if (serviceRoot < 0) {
                serviceRoot = addRoot(TVariableName::ServiceMarker, true);
            }
            place(serviceRoot, name.Block(), name.Field(), source);
            break;
        case TVariableName::KindConfigure:
            if (configureRoot < 0) {
                configureRoot = addRoot(TVariableName::ConfigureMarker, true);
            }
            place(configureRoot, name.Block(), name.Field(), source);
            break;
        case TVariableName::KindOther: {
            const QString category = name.Category();
            if (!category.isEmpty()) {
                if (categoryRoot < 0 || nodes[categoryRoot].text != category) {
                    categoryRoot = addRoot(category, false);
                }
                place(categoryRoot, name.Block(), name.Field(), source);
                break;
            }
            if (noCategoryRoot < 0) {
                noCategoryRoot = addRoot(TVariableName::NoCategoryMarker, false);
            }
            const QString block = name.Block();
            if (!block.isEmpty()) {
                place(noCategoryRoot, block, name.Field(), source);
            } else {
                if (noBlockNode < 0) {
                    noBlockNode = addChild(noCategoryRoot, TVariableName::NoBlockMarker);
                }
                nodes[addChild(noBlockNode, name.Field())].source = source;
            }
            break;
        }
        }
    }
}

TDuxlaneNodeTree TDuxlaneNodeTree::filtered(const QString& text) const {
    TDuxlaneNodeTree out;
    out.names = names;
    for (int root : roots) {
        int outRoot = -1;
        for (int header : nodes[root].children) {
            int outHeader = -1;
            for (int field : nodes[header].children) {
                const int source = nodes[field].source;
                if (source < 0 || !names.at(source).contains(text, Qt::CaseInsensitive)) {
                    continue;
                }
                if (outRoot < 0) {
                    outRoot = out.addRoot(nodes[root].text, false);
                    if (root == serviceRoot) {
                        out.serviceRoot = outRoot;
                    } else if (root == configureRoot) {
                        out.configureRoot = outRoot;
                    }
                }
                if (outHeader < 0) {
                    outHeader = out.addChild(outRoot, nodes[header].text);
                }
                out.nodes[out.addChild(outHeader, nodes[field].text)].source = source;
            }
        }
    }
    return out;
}

// ---------------------------------------------------------------- model

// A read-only item model over a node tree; the internal id of an index is
// its node number.
class TDuxlaneTreeModel : public QAbstractItemModel {
public:
    explicit TDuxlaneTreeModel(QObject* parent) : QAbstractItemModel(parent) {}

    void setTree(const TDuxlaneNodeTree* tree) {
        beginResetModel();
        m_tree = tree;
        endResetModel();
    }
    const TDuxlaneNodeTree* tree() const { return m_tree; }

    QIcon images[3];

    QModelIndex index(int row, int column, const QModelIndex& parent) const override {
        if (!m_tree || column != 0 || row < 0) {
            return {};
        }
        const std::vector<int>& list = parent.isValid() ? node(parent).children : m_tree->roots;
        if (row >= static_cast<int>(list.size())) {
            return {};
        }
        return createIndex(row, 0, static_cast<quintptr>(list[row]));
    }

    QModelIndex parent(const QModelIndex& child) const override {
        if (!m_tree || !child.isValid()) {
            return {};
        }
        const int parentId = node(child).parent;
        if (parentId < 0) {
            return {};
        }
        return createIndex(m_tree->nodes[parentId].row, 0, static_cast<quintptr>(parentId));
    }

    int rowCount(const QModelIndex& parent) const override {
        if (!m_tree) {
            return 0;
        }
        if (!parent.isValid()) {
            return static_cast<int>(m_tree->roots.size());
        }
        return parent.column() == 0 ? static_cast<int>(node(parent).children.size()) : 0;
    }

    int columnCount(const QModelIndex&) const override { return 1; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!m_tree || !index.isValid()) {
            return {};
        }
        const TDuxlaneNodeTree::Node& n = node(index);
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
            if (role == Qt::ToolTipRole && n.level == 2 && n.source >= 0) {
                return m_tree->names.at(n.source);
            }
            return role == Qt::DisplayRole ? QVariant(n.text) : QVariant();
        }
        if (role == Qt::DecorationRole) {
            // Roots carry no image; headers and blocks a closed folder (open
            // when selected, see the delegate), fields the variable symbol.
            if (n.level == 1) {
                return images[0];
            }
            if (n.level == 2) {
                return images[2];
            }
        }
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid()) {
            return Qt::NoItemFlags;
        }
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
    }

    const TDuxlaneNodeTree::Node& node(const QModelIndex& index) const {
        return m_tree->nodes[static_cast<std::size_t>(index.internalId())];
    }

private:
    const TDuxlaneNodeTree* m_tree = nullptr;
};

namespace {

// A selected header or block shows the open folder.
class TNodeDelegate : public QStyledItemDelegate {
public:
    TNodeDelegate(TDuxlaneTreeModel* model, QObject* parent)
        : QStyledItemDelegate(parent), m_model(model) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if ((option->state & QStyle::State_Selected) && m_model->tree() &&
            m_model->node(index).level == 1) {
            option->icon = m_model->images[1];
        }
    }

private:
    TDuxlaneTreeModel* m_model;
};

} // namespace

// ---------------------------------------------------------------- view

TDuxlaneTreeView::TDuxlaneTreeView(QWidget* parent)
    : QTreeView(parent), m_model(new TDuxlaneTreeModel(this)) {
    setHeaderHidden(true);
    setUniformRowHeights(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setIconSize(QSize(16, 16));
    setModel(m_model);
    setItemDelegate(new TNodeDelegate(m_model, this));
    // The selection stays drawn when the tree loses the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);
    m_model->setTree(&m_full);
}

TDuxlaneTreeView::~TDuxlaneTreeView() {
    SetClipboard(nullptr);
}

void TDuxlaneTreeView::SetClipboard(TVariableClipboard* clipboard) {
    // A drag source that goes away must not be asked to fill the clipboard.
    if (m_clipboard && m_clipboard->OnFill().receiver() == static_cast<void*>(this)) {
        m_clipboard->SetOnFill(TVariableClipboardEvent());
    }
    m_clipboard = clipboard;
}

void TDuxlaneTreeView::SetImages(const QIcon& closedFolder, const QIcon& openFolder,
                                 const QIcon& variable) {
    m_model->images[0] = closedFolder;
    m_model->images[1] = openFolder;
    m_model->images[2] = variable;
    viewport()->update();
}

const TDuxlaneNodeTree& TDuxlaneTreeView::ShownTree() const {
    return m_filteredTree ? *m_filteredTree : m_full;
}

void TDuxlaneTreeView::resetModel() {
    m_model->setTree(m_filteredTree ? m_filteredTree.get() : &m_full);
}

void TDuxlaneTreeView::ClearTree() {
    m_expandedBeforeFilter.clear();
    m_selectedBeforeFilter = -1;
    m_filteredTree.reset();
    m_model->setTree(nullptr);
    m_full.clear();
    resetModel();
}

void TDuxlaneTreeView::Refresh() {
    if (!m_control) {
        return;
    }
    ClearTree();
    // The device reads the list once and keeps it; a failure leaves the tree
    // empty and goes to the caller.
    const QStringList names = m_control->GetTopicItemList();
    BuildFromNames(names);
}

void TDuxlaneTreeView::BuildFromNames(const QStringList& itemNames) {
    setUpdatesEnabled(false);
    m_model->setTree(nullptr);
    m_filteredTree.reset();
    m_expandedBeforeFilter.clear();
    m_selectedBeforeFilter = -1;
    m_full.build(itemNames);
    if (!m_filterText.isEmpty()) {
        const QString text = m_filterText;
        m_filterText.clear();
        resetModel();
        SetFilter(text);
    } else {
        resetModel();
    }
    setUpdatesEnabled(true);
}

void TDuxlaneTreeView::SetFilter(const QString& text) {
    if (text == m_filterText) {
        return;
    }
    if (m_filterText.isEmpty()) {
        // Remember how the full tree looked, to give it back unchanged.
        m_expandedBeforeFilter.clear();
        for (int root : m_full.roots) {
            const QModelIndex rootIndex = IndexOf(root);
            if (isExpanded(rootIndex)) {
                m_expandedBeforeFilter.push_back(root);
            }
            for (int header : m_full.nodes[root].children) {
                if (isExpanded(m_model->index(m_full.nodes[header].row, 0, rootIndex))) {
                    m_expandedBeforeFilter.push_back(header);
                }
            }
        }
        m_selectedBeforeFilter = SelectedNode();
    }
    m_filterText = text;
    setUpdatesEnabled(false);
    if (text.isEmpty()) {
        m_model->setTree(&m_full);
        m_filteredTree.reset();
        for (int node : m_expandedBeforeFilter) {
            setExpanded(IndexOf(node), true);
        }
        if (m_selectedBeforeFilter >= 0) {
            SelectNode(m_selectedBeforeFilter);
        }
        m_expandedBeforeFilter.clear();
        m_selectedBeforeFilter = -1;
    } else {
        auto next = std::make_unique<TDuxlaneNodeTree>(m_full.filtered(text));
        m_model->setTree(next.get());
        m_filteredTree = std::move(next);
        expandAll();
    }
    setUpdatesEnabled(true);
}

int TDuxlaneTreeView::NodeAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != m_model) {
        return -1;
    }
    return static_cast<int>(index.internalId());
}

QModelIndex TDuxlaneTreeView::IndexOf(int node) const {
    const TDuxlaneNodeTree& tree = ShownTree();
    if (node < 0 || node >= static_cast<int>(tree.nodes.size())) {
        return {};
    }
    return m_model->index(tree.nodes[node].row, 0, IndexOf(tree.nodes[node].parent));
}

int TDuxlaneTreeView::SelectedNode() const {
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : NodeAt(selected.first());
}

void TDuxlaneTreeView::SelectNode(int node) {
    const QModelIndex index = IndexOf(node);
    if (index.isValid()) {
        setCurrentIndex(index);
        scrollTo(index);
    } else {
        clearSelection();
    }
}

QString TDuxlaneTreeView::FullNameOf(int node) const {
    const TDuxlaneNodeTree& tree = ShownTree();
    if (node < 0 || node >= static_cast<int>(tree.nodes.size()) || tree.nodes[node].level != 2) {
        return {};
    }
    const int header = tree.nodes[node].parent;
    const int root = tree.nodes[header].parent;
    TVariableName name;
    name.BuildName(tree.nodes[root].text, tree.nodes[header].text, tree.nodes[node].text);
    return name.FullName();
}

void TDuxlaneTreeView::addField(const TDuxlaneNodeTree& tree, int field) {
    const int header = tree.nodes[field].parent;
    const int root = tree.nodes[header].parent;
    TVariableName name;
    name.BuildName(tree.nodes[root].text, tree.nodes[header].text, tree.nodes[field].text);
    m_clipboard->Add(name.FullName(), QString(), m_control);
}

void TDuxlaneTreeView::addHeaderVariables(const TDuxlaneNodeTree& tree, int node) {
    if (!m_clipboard) {
        return;
    }
    for (int field : tree.nodes[node].children) {
        addField(tree, field);
    }
}

void TDuxlaneTreeView::AddHeaderVariables(int node) {
    const TDuxlaneNodeTree& tree = ShownTree();
    if (node >= 0 && node < static_cast<int>(tree.nodes.size()) && tree.nodes[node].level == 1) {
        addHeaderVariables(tree, node);
    }
}

void TDuxlaneTreeView::CopySelection() {
    if (!m_clipboard) {
        return;
    }
    TWaitCursorScope wait;
    m_clipboard->Clear();
    const int node = SelectedNode();
    if (node < 0) {
        return;
    }
    const TDuxlaneNodeTree& tree = ShownTree();
    switch (tree.nodes[node].level) {
    case 0:
        for (int header : tree.nodes[node].children) {
            addHeaderVariables(tree, header);
        }
        break;
    case 1:
        addHeaderVariables(tree, node);
        break;
    default:
        addField(tree, node);
        break;
    }
}

void TDuxlaneTreeView::fillClipboard(TVariableClipboard*) {
    CopySelection();
}

QStringList TDuxlaneTreeView::Dump() const {
    QStringList lines;
    const TDuxlaneNodeTree& tree = ShownTree();
    std::vector<int> stack(tree.roots.rbegin(), tree.roots.rend());
    while (!stack.empty()) {
        const int id = stack.back();
        stack.pop_back();
        const TDuxlaneNodeTree::Node& n = tree.nodes[id];
        lines << QString(n.level * 2, QLatin1Char(' ')) + n.text;
        stack.insert(stack.end(), n.children.rbegin(), n.children.rend());
    }
    return lines;
}

void TDuxlaneTreeView::keyPressEvent(QKeyEvent* event) {
    if ((event->modifiers() & Qt::ControlModifier) && event->key() == Qt::Key_C) {
        CopySelection();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void TDuxlaneTreeView::mousePressEvent(QMouseEvent* event) {
    // Only the left button drags variables.
    m_leftPressed = event->button() == Qt::LeftButton;
    QTreeView::mousePressEvent(event);
}

QMimeData* TDuxlaneTreeView::PrepareDrag() {
    if (!m_leftPressed || !m_clipboard || SelectedNode() < 0) {
        return nullptr;
    }
    // The drop target fills the clipboard from the node selected at drop time.
    m_clipboard->SetOnFill(TVariableClipboardEvent(this, &TDuxlaneTreeView::fillClipboard));
    return NewVariableMimeData();
}

void TDuxlaneTreeView::startDrag(Qt::DropActions) {
    QMimeData* data = PrepareDrag();
    if (!data) {
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const QModelIndex index = IndexOf(SelectedNode());
    const QIcon icon = qvariant_cast<QIcon>(m_model->data(index, Qt::DecorationRole));
    if (!icon.isNull()) {
        drag->setPixmap(icon.pixmap(16, 16));
    }
    drag->exec(Qt::CopyAction);
}

// ---------------------------------------------------------------- iterators

QString THeaderIterator::DoubleFirstAmpersand(const QString& text) {
    const qsizetype at = text.indexOf(QLatin1Char('&'));
    if (at < 0) {
        return text;
    }
    QString doubled = text;
    doubled.insert(at, QLatin1Char('&'));
    return doubled;
}

QString THeaderIterator::HeaderName() const {
    if (!m_tree || m_current < 0) {
        return {};
    }
    return DoubleFirstAmpersand(m_tree->FullTree().nodes[m_current].text);
}

void THeaderIterator::StartAt(TDuxlaneTreeView* tree, int root) {
    m_tree = tree;
    m_control = tree ? tree->Control() : nullptr;
    m_current = -1;
    if (!tree || root < 0) {
        return;
    }
    const TDuxlaneNodeTree& full = tree->FullTree();
    if (!full.nodes[root].children.empty()) {
        m_current = full.nodes[root].children.front();
        fill();
    }
}

void THeaderIterator::Next() {
    if (!m_tree || m_current < 0) {
        return;
    }
    const TDuxlaneNodeTree& full = m_tree->FullTree();
    const TDuxlaneNodeTree::Node& header = full.nodes[m_current];
    const std::vector<int>& siblings = full.nodes[header.parent].children;
    const std::size_t next = static_cast<std::size_t>(header.row) + 1;
    m_current = next < siblings.size() ? siblings[next] : -1;
    if (m_current >= 0) {
        fill();
    }
}

void THeaderIterator::fill() {
    if (TVariableClipboard* clipboard = m_tree->Clipboard()) {
        clipboard->Clear();
        m_tree->addHeaderVariables(m_tree->FullTree(), m_current);
    }
}

void TServiceHeaderIterator::Start(TDuxlaneTreeView* tree) {
    StartAt(tree, tree ? tree->ServiceRoot() : -1);
}

void TConfigureHeaderIterator::Start(TDuxlaneTreeView* tree) {
    StartAt(tree, tree ? tree->ConfigureRoot() : -1);
}

} // namespace orvane
