// The record list's view over its model (offscreen platform): what a frame's gathered change repaints.
#include "console/ServiceList.h"
#include <gtest/gtest.h>
#include <QApplication>
#include <QPaintEvent>
#include <QScrollBar>

namespace {

// The union of what the viewport painted.
class TPaintedRegion : public QObject
{
public:
    QRegion Region;
    bool eventFilter(QObject *, QEvent *Event) override
    {
        if (Event->type() == QEvent::Paint)
            Region += static_cast<QPaintEvent *>(Event)->region();
        return false;
    }
};

// A change spanning rows on and off screen repaints the rows on screen that changed; one that touches no
// row on screen repaints nothing.
TEST(ServiceList, GatheredChangeRepaintsTheChangedRowsOnScreen)
{
    TSystemList list;
    for (int i = 0; i < 300; ++i) {
        TSystemRecord r;
        r.Cells = {QStringLiteral("1"), QStringLiteral("s%1").arg(i, 3, 10, QLatin1Char('0')),
            QStringLiteral("127.0.0.%1").arg(i), QString(), QStringLiteral("1"), QStringLiteral("0"),
            QString(), QString(), QStringLiteral("0")};
        list.Add(r);
    }
    TServiceListModel model(list);
    TServiceListView view;
    view.setModel(&model);
    view.SetUpColumns();
    view.resize(500, 260); // about ten rows of 20 pixels
    view.show();
    QApplication::processEvents();
    TPaintedRegion painted;
    view.viewport()->installEventFilter(&painted);

    struct TCase
    {
        const char *Name;
        int Top; // the row scrolled to the top
        std::vector<int> Changed;
        std::vector<int> Repainted; // rows whose state cell must be painted
    };
    const TCase cases[] = {
        {"first on screen, last far below", 0, {2, 250}, {2}},
        {"first far above, last near the bottom", 100, {0, 107}, {107}},
        {"every row", 100, {0, 299}, {100, 110}},
        {"only rows below the screen", 100, {200, 250, 299}, {}},
        {"only rows above the screen", 100, {0, 50, 99}, {}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        view.scrollTo(model.index(c.Top, 0), QAbstractItemView::PositionAtTop);
        QApplication::processEvents();
        ASSERT_EQ(view.indexAt(QPoint(0, 0)).row(), c.Top);
        painted.Region = QRegion();
        {
            TListUpdate update(list);
            for (int row : c.Changed)
                list.SetCell(row, TSystemRecord::State, QStringLiteral("3"));
        }
        model.FlushChanges();
        QApplication::processEvents();
        for (int row : c.Repainted)
            EXPECT_TRUE(
                painted.Region.contains(view.visualRect(model.index(row, TSystemRecord::State)).center()))
                << "row " << row << " not repainted";
        if (c.Repainted.empty()) {
            EXPECT_TRUE(painted.Region.isEmpty()) << painted.Region.boundingRect().height() << " pixels";
        }
        for (int row : c.Changed)
            list.SetCell(row, TSystemRecord::State, QStringLiteral("0"));
        model.FlushChanges();
        QApplication::processEvents();
    }
}

} // namespace
