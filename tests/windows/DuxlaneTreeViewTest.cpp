// The Explorer's tree: how item lists become roots, headers and fields, what
// copy and the header iterators hand the variable clipboard, and the filter.

#include "windows/DuxlaneTreeView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "inspector/VarClipboard.h"
#include "model/KIDuxlaneControl.h"
#include "windows/VariableDrag.h"

using namespace orvane;

namespace {

class TreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_tree.SetControl(&m_control);
        m_tree.SetClipboard(&m_clipboard);
        m_tree.resize(300, 400);
    }

    // The node of the shown tree found by the path of texts from a root.
    int Find(const QStringList& path) const {
        const TDuxlaneNodeTree& tree = m_tree.ShownTree();
        const std::vector<int>* level = &tree.roots;
        int found = -1;
        for (const QString& text : path) {
            found = -1;
            for (int id : *level) {
                if (tree.nodes[id].text == text) {
                    found = id;
                    break;
                }
            }
            if (found < 0) {
                return -1;
            }
            level = &tree.nodes[found].children;
        }
        return found;
    }

    QStringList ClipboardNames() const {
        QStringList names;
        for (const TVCEntry& entry : m_clipboard.Entries()) {
            names << entry.ItemName;
        }
        return names;
    }

    void CopyNode(const QStringList& path) {
        const int node = Find(path);
        ASSERT_GE(node, 0) << path.join(QLatin1Char('/')).toStdString();
        m_tree.SelectNode(node);
        m_tree.CopySelection();
    }

    TKIDuxlaneControl m_control;
    TVariableClipboard m_clipboard;
    TDuxlaneTreeView m_tree;
};

TEST_F(TreeTest, RootsHeadersAndMarkersFollowTheList) {
    m_tree.BuildFromNames(
        {"Service: A.x", "Service: A.y", "Service: B.z", "Configure: C.w", "CAT.BLK.v", "F"});
    EXPECT_EQ(m_tree.Dump(), QStringList({"<<Configure>>", "  C", "    w", "<<Service>>", "  A",
                                          "    x", "    y", "  B", "    z", "CAT", "  BLK", "    v",
                                          "<<no category>>", "  <<no block>>", "    F"}));
}

TEST_F(TreeTest, HeadersOfTheSameNameStayApartPerRoot) {
    m_tree.BuildFromNames({"Service: A.x", "Configure: A.y", "Service: A.z"});
    EXPECT_EQ(m_tree.Dump(), QStringList({"<<Configure>>", "  A", "    y", "<<Service>>", "  A",
                                          "    x", "    z"}));
}

TEST_F(TreeTest, CategoriesAndBlocksAreGroupedByRuns) {
    // A category or block that comes back after another one gets a node of
    // its own; comparisons keep letter case.
    m_tree.BuildFromNames({"P.B1.a", "P.B2.b", "P.B1.c", "Q.B1.d", "P.B1.e", "p.B1.f", "B9.g",
                           "B9.h", "G", "B8.i", "H"});
    EXPECT_EQ(m_tree.Dump(), QStringList({"P",
                                          "  B1",
                                          "    a",
                                          "  B2",
                                          "    b",
                                          "  B1",
                                          "    c",
                                          "Q",
                                          "  B1",
                                          "    d",
                                          "P",
                                          "  B1",
                                          "    e",
                                          "p",
                                          "  B1",
                                          "    f",
                                          "<<no category>>",
                                          "  B9",
                                          "    g",
                                          "    h",
                                          "  <<no block>>",
                                          "    G",
                                          "    H",
                                          "  B8",
                                          "    i"}));
}

TEST_F(TreeTest, EmptyListGivesNoNodesAndRefreshWithoutControlKeepsTheTree) {
    m_tree.BuildFromNames({});
    EXPECT_TRUE(m_tree.Dump().isEmpty());
    EXPECT_EQ(m_tree.ServiceRoot(), -1);
    EXPECT_EQ(m_tree.ConfigureRoot(), -1);

    m_tree.BuildFromNames({"Service: A.x"});
    m_tree.SetControl(nullptr);
    m_tree.Refresh();
    EXPECT_EQ(m_tree.Dump().size(), 3);
}

TEST_F(TreeTest, CopyTakesRootHeaderOrFieldWithFullNames) {
    m_tree.BuildFromNames({"Service: A.x", "Service: A.y", "Service: B.z", "Configure: C.w",
                           "CAT.BLK.v", "NB.u", "F"});
    CopyNode({"<<Service>>"});
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: A.x", "Service: A.y", "Service: B.z"}));
    for (const TVCEntry& entry : m_clipboard.Entries()) {
        EXPECT_EQ(entry.Device, &m_control);
        EXPECT_TRUE(entry.Description.isEmpty());
    }

    CopyNode({"<<Configure>>", "C"});
    EXPECT_EQ(ClipboardNames(), QStringList({"Configure: C.w"}));

    CopyNode({"CAT", "BLK", "v"});
    EXPECT_EQ(ClipboardNames(), QStringList({"CAT.BLK.v"}));

    CopyNode({"<<no category>>", "NB", "u"});
    EXPECT_EQ(ClipboardNames(), QStringList({"NB.u"}));

    CopyNode({"<<no category>>", "<<no block>>", "F"});
    EXPECT_EQ(ClipboardNames(), QStringList({"F"}));

    CopyNode({"<<no category>>"});
    EXPECT_EQ(ClipboardNames(), QStringList({"NB.u", "F"}));
}

TEST_F(TreeTest, CtrlCCopiesAndNothingSelectedEmptiesTheClipboard) {
    m_tree.BuildFromNames({"Service: A.x", "Service: A.y"});
    m_tree.show();
    m_tree.SelectNode(Find({"<<Service>>", "A"}));
    QTest::keyClick(&m_tree, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: A.x", "Service: A.y"}));

    m_tree.clearSelection();
    QTest::keyClick(&m_tree, Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(m_clipboard.IsEmpty());
}

TEST_F(TreeTest, HeaderNameDoublesTheFirstAmpersandOnly) {
    EXPECT_EQ(THeaderIterator::DoubleFirstAmpersand("Temp & Press"), "Temp && Press");
    EXPECT_EQ(THeaderIterator::DoubleFirstAmpersand("A&B&C"), "A&&B&C");
    EXPECT_EQ(THeaderIterator::DoubleFirstAmpersand("Plain"), "Plain");
    EXPECT_EQ(THeaderIterator::DoubleFirstAmpersand("&"), "&&");
}

TEST_F(TreeTest, IteratorsWalkTheHeadersOfTheirRootAndFillTheClipboard) {
    m_tree.BuildFromNames({"Service: Temp & Press.a", "Service: Temp & Press.b", "Service: Flow.c",
                           "Configure: Setup.d", "CAT.BLK.v"});
    TServiceHeaderIterator service;
    service.Start(&m_tree);
    ASSERT_TRUE(service.HasCurrent());
    EXPECT_EQ(service.Control(), &m_control);
    EXPECT_EQ(service.HeaderName(), "Temp && Press");
    EXPECT_EQ(ClipboardNames(),
              QStringList({"Service: Temp & Press.a", "Service: Temp & Press.b"}));
    service.Next();
    ASSERT_TRUE(service.HasCurrent());
    EXPECT_EQ(service.HeaderName(), "Flow");
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: Flow.c"}));
    service.Next();
    EXPECT_FALSE(service.HasCurrent());
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: Flow.c"}));

    // A second Start begins again at the first header.
    service.Start(&m_tree);
    EXPECT_EQ(service.HeaderName(), "Temp && Press");

    TConfigureHeaderIterator configure;
    configure.Start(&m_tree);
    ASSERT_TRUE(configure.HasCurrent());
    EXPECT_EQ(configure.HeaderName(), "Setup");
    EXPECT_EQ(ClipboardNames(), QStringList({"Configure: Setup.d"}));
}

TEST_F(TreeTest, IteratorWithoutItsRootLeavesTheClipboardAlone) {
    m_tree.BuildFromNames({"Service: A.x"});
    m_clipboard.Add("Kept", QString(), &m_control);
    TConfigureHeaderIterator configure;
    configure.Start(&m_tree);
    EXPECT_FALSE(configure.HasCurrent());
    EXPECT_EQ(ClipboardNames(), QStringList({"Kept"}));
}

TEST_F(TreeTest, FilterNarrowsIgnoringCaseAndEscapeRestoresTheTreeExactly) {
    const QStringList names = {"Service: Loop.Set Point",
                               "Service: Loop.Actual",
                               "Service: Motor.Speed",
                               "Configure: Loop.Gain",
                               "Plant.Area.Name",
                               "Plant.Area.Start",
                               "Count"};
    m_tree.BuildFromNames(names);
    m_tree.show();
    const QStringList full = m_tree.Dump();
    const int loop = Find({"<<Service>>", "Loop"});
    m_tree.expand(m_tree.IndexOf(Find({"<<Service>>"})));
    m_tree.expand(m_tree.IndexOf(loop));
    m_tree.SelectNode(loop);

    m_tree.SetFilter("LOOP.");
    EXPECT_EQ(m_tree.Dump(), QStringList({"<<Configure>>", "  Loop", "    Gain", "<<Service>>",
                                          "  Loop", "    Set Point", "    Actual"}));
    // Everything found is shown expanded.
    EXPECT_TRUE(m_tree.isExpanded(m_tree.IndexOf(Find({"<<Configure>>", "Loop"}))));

    // Copy takes what is shown.
    CopyNode({"<<Service>>"});
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: Loop.Set Point", "Service: Loop.Actual"}));

    m_tree.SetFilter("area.n");
    EXPECT_EQ(m_tree.Dump(), QStringList({"Plant", "  Area", "    Name"}));
    m_tree.SetFilter("no such variable");
    EXPECT_TRUE(m_tree.Dump().isEmpty());

    m_tree.SetFilter(QString());
    EXPECT_EQ(m_tree.Dump(), full);
    EXPECT_EQ(m_tree.SelectedNode(), loop);
    EXPECT_TRUE(m_tree.isExpanded(m_tree.IndexOf(loop)));
    EXPECT_FALSE(m_tree.isExpanded(m_tree.IndexOf(Find({"<<Configure>>"}))));
}

TEST_F(TreeTest, IteratorsIgnoreTheFilter) {
    m_tree.BuildFromNames({"Service: A.x", "Service: B.y"});
    m_tree.SetFilter("B.y");
    TServiceHeaderIterator service;
    service.Start(&m_tree);
    ASSERT_TRUE(service.HasCurrent());
    EXPECT_EQ(service.HeaderName(), "A");
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: A.x"}));
}

TEST_F(TreeTest, ARebuildKeepsTheFilterText) {
    m_tree.BuildFromNames({"Service: A.x"});
    m_tree.SetFilter("y");
    m_tree.BuildFromNames({"Service: A.x", "Service: A.y"});
    EXPECT_EQ(m_tree.Dump(), QStringList({"<<Service>>", "  A", "    y"}));
}

TEST_F(TreeTest, ADragFillsTheClipboardFromTheNodeSelectedAtDropTime) {
    m_tree.BuildFromNames({"Service: A.x", "Service: B.y"});
    m_tree.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_tree));
    const int root = Find({"<<Service>>"});
    const QRect rect = m_tree.visualRect(m_tree.IndexOf(root));

    // The right button never drags.
    QTest::mousePress(m_tree.viewport(), Qt::RightButton, {}, rect.center());
    QTest::mouseRelease(m_tree.viewport(), Qt::RightButton, {}, rect.center());
    EXPECT_EQ(m_tree.SelectedNode(), root);
    EXPECT_EQ(m_tree.PrepareDrag(), nullptr);
    EXPECT_FALSE(static_cast<bool>(m_clipboard.OnFill()));

    QTest::mousePress(m_tree.viewport(), Qt::LeftButton, {}, rect.center());
    std::unique_ptr<QMimeData> data(m_tree.PrepareDrag());
    QTest::mouseRelease(m_tree.viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(IsVariableDrag(data.get()));
    EXPECT_TRUE(m_clipboard.IsEmpty());

    // The target fills the clipboard when the drop happens.
    m_tree.SelectNode(Find({"<<Service>>", "B"}));
    m_clipboard.Fill();
    EXPECT_EQ(ClipboardNames(), QStringList({"Service: B.y"}));
}

TEST_F(TreeTest, ADeadDragSourceIsNeverAskedToFill) {
    auto tree = std::make_unique<TDuxlaneTreeView>();
    tree->SetControl(&m_control);
    tree->SetClipboard(&m_clipboard);
    tree->BuildFromNames({"Service: A.x"});
    tree->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(tree.get()));
    const QRect rect = tree->visualRect(tree->IndexOf(0));
    QTest::mousePress(tree->viewport(), Qt::LeftButton, {}, rect.center());
    std::unique_ptr<QMimeData> data(tree->PrepareDrag());
    ASSERT_NE(data, nullptr);
    tree.reset();
    EXPECT_FALSE(static_cast<bool>(m_clipboard.OnFill()));
    m_clipboard.Fill();
    EXPECT_TRUE(m_clipboard.IsEmpty());
}

TEST(VariableDragTest, OnlyThisProcessesDragsAreVariables) {
    std::unique_ptr<QMimeData> ours(NewVariableMimeData());
    EXPECT_TRUE(IsVariableDrag(ours.get()));
    QMimeData other;
    other.setData(kVariableMimeType, "1");
    EXPECT_EQ(IsVariableDrag(&other), QCoreApplication::applicationPid() == 1);
    QMimeData text;
    text.setText("Service: A.x");
    EXPECT_FALSE(IsVariableDrag(&text));
    EXPECT_FALSE(IsVariableDrag(nullptr));
}

} // namespace
