#pragma once

// TDuxlaneTreeView: the Explorer's tree of one control's variables, built from
// the control's topic item list. Roots are "<<Service>>", "<<Configure>>", the
// application's categories and "<<no category>>"; under them the headers or
// blocks; under those the fields. Headers, blocks and categories are grouped
// by runs of the (sorted) item list, exactly as the list comes.
//
// A variable's full item name is rebuilt from the texts on its path (root,
// header/block, field) by the naming scheme, so copy and drag hand the
// variable clipboard the names the server knows.
//
// The filter (SetFilter) shows only the variables whose item name contains a
// text, ignoring case, with their headers and roots expanded; copy and drag
// then take what is shown. With an empty filter the tree is the full tree,
// with the expansion it had before filtering.
//
// The header iterators walk the headers of the full tree (never the filtered
// one), so a Quick Inspector always gets every header.
//
// Ownership: the control and the clipboard are borrowed; the Explorer owns the
// tree. Thread: main thread only.

#include <memory>
#include <vector>

#include <QIcon>
#include <QStringList>
#include <QTreeView>

class QMimeData;

#include "inspector/VarClipboard.h"

namespace orvane {

class TKIDuxlaneControl;
class TDuxlaneTreeModel;

// The nodes of one tree: roots (level 0), headers or blocks (level 1) and
// fields (level 2), each a plain text. Node 0.. in creation order.
struct TDuxlaneNodeTree {
    struct Node {
        QString text;
        int parent = -1;     // -1 for a root
        int row = 0;         // position among its siblings
        int level = 0;       // 0 root, 1 header/block, 2 field
        int remembered = -1; // roots: the level-1 node most recently appended
        int source = -1;     // fields: index of the item name in the list
        std::vector<int> children;
    };
    std::vector<Node> nodes;
    std::vector<int> roots;
    QStringList names; // the item names the tree was built from
    int serviceRoot = -1;
    int configureRoot = -1;

    void clear();
    int addRoot(const QString& text, bool first);
    int addChild(int parent, const QString& text);
    // Builds the tree from the names, in list order, by runs.
    void build(const QStringList& itemNames);
    // The nodes whose field's item name contains `text` (ignoring case), with
    // their parents, in the same order; an empty result when nothing matches.
    TDuxlaneNodeTree filtered(const QString& text) const;
};

class TDuxlaneTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit TDuxlaneTreeView(QWidget* parent = nullptr);
    ~TDuxlaneTreeView() override;

    // Written without side effects; the tree shows it after Refresh.
    TKIDuxlaneControl* Control() const { return m_control; }
    void SetControl(TKIDuxlaneControl* control) { m_control = control; }

    TVariableClipboard* Clipboard() const { return m_clipboard; }
    void SetClipboard(TVariableClipboard* clipboard);

    // The three node images: 0 closed folder, 1 open folder, 2 variable.
    void SetImages(const QIcon& closedFolder, const QIcon& openFolder, const QIcon& variable);

    // Rebuilds every node from the control's topic item list. Raises what
    // the list request raises (the tree is then empty).
    void Refresh();
    // Builds the tree from a name list (what Refresh does with the control's).
    void BuildFromNames(const QStringList& itemNames);
    // Empties the tree.
    void ClearTree();

    // Replaces the clipboard's contents by the variables of the selected
    // node (nothing selected: the clipboard is only cleared).
    void CopySelection();
    // Adds the variables of the fields under a level-1 node of the shown tree.
    void AddHeaderVariables(int node);

    // The filter text; empty shows the full tree.
    void SetFilter(const QString& text);
    const QString& Filter() const { return m_filterText; }

    // The shown tree (filtered or full) and the full one.
    const TDuxlaneNodeTree& ShownTree() const;
    const TDuxlaneNodeTree& FullTree() const { return m_full; }
    int ServiceRoot() const { return m_full.serviceRoot; }
    int ConfigureRoot() const { return m_full.configureRoot; }

    // Node of the shown tree at a model index, and back (-1 / invalid).
    int NodeAt(const QModelIndex& index) const;
    QModelIndex IndexOf(int node) const;
    int SelectedNode() const;
    void SelectNode(int node);
    // The full item name of a field of the shown tree.
    QString FullNameOf(int node) const;

    // The start of a drag of the selected node: installs this tree as the
    // clipboard's filler and returns the drag data (caller owns it); null
    // when no drag may start (nothing selected, not the left button).
    QMimeData* PrepareDrag();

    // The shown tree as indented lines (two spaces per level), for checks
    // and for the log.
    QStringList Dump() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    friend class THeaderIterator;
    void fillClipboard(TVariableClipboard* clipboard);
    void addField(const TDuxlaneNodeTree& tree, int field);
    void addHeaderVariables(const TDuxlaneNodeTree& tree, int node);
    void resetModel();

    TKIDuxlaneControl* m_control = nullptr;
    TVariableClipboard* m_clipboard = nullptr;
    TDuxlaneTreeModel* m_model; // owned by this view (Qt child)
    TDuxlaneNodeTree m_full;
    std::unique_ptr<TDuxlaneNodeTree> m_filteredTree;
    QString m_filterText;
    std::vector<int> m_expandedBeforeFilter;
    int m_selectedBeforeFilter = -1;
    bool m_leftPressed = false;
};

// Walks the headers of one root of an Explorer tree, filling the variable
// clipboard with the current header's variables at each step.
class THeaderIterator {
public:
    virtual ~THeaderIterator() = default;
    // Starts at the first header of the iterator's root of the tree (none
    // when the root is absent; the clipboard is then untouched).
    virtual void Start(TDuxlaneTreeView* tree) = 0;
    // The next header; the clipboard then holds its variables.
    void Next();
    bool HasCurrent() const { return m_current >= 0; }
    // The current header's text with its first "&" doubled.
    QString HeaderName() const;
    TKIDuxlaneControl* Control() const { return m_control; }

    // The text with its first "&" doubled (unchanged without one).
    static QString DoubleFirstAmpersand(const QString& text);

protected:
    void StartAt(TDuxlaneTreeView* tree, int root);

private:
    void fill();

    TDuxlaneTreeView* m_tree = nullptr;
    TKIDuxlaneControl* m_control = nullptr;
    int m_current = -1;
};

class TServiceHeaderIterator : public THeaderIterator {
public:
    void Start(TDuxlaneTreeView* tree) override;
};

class TConfigureHeaderIterator : public THeaderIterator {
public:
    void Start(TDuxlaneTreeView* tree) override;
};

} // namespace orvane
