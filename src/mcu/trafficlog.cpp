// SPDX-License-Identifier: GPL-3.0-or-later
#include "mcu/trafficlog.h"

#include "protocol/zemtool.h"

#include <QAbstractListModel>
#include <QColor>
#include <QDateTime>
#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

namespace {

const QString TagNotice = QStringLiteral("注意:");
const QColor NoticeColor(0xB0, 0x30, 0x00);

} // namespace

// The log's lines, oldest first. Appending and dropping a block at the front
// are the only changes; nothing here depends on how many lines are held
// except the occasional trim, which moves the remaining lines once per block.
class TrafficLogModel : public QAbstractListModel
{
public:
    struct Line
    {
        QString text;
        QByteArray frame; // null: no frame to decode
        bool notice = false;
    };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_lines.size();
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const int row = index.row();
        if (!index.isValid() || row < 0 || row >= m_lines.size())
            return QVariant();
        const Line &line = m_lines.at(row);
        switch (role) {
        case Qt::DisplayRole:
            return line.text;
        case Qt::ForegroundRole:
            return line.notice ? QVariant(NoticeColor) : QVariant();
        case TrafficLog::FrameRole:
            return line.frame.isNull() ? QVariant() : QVariant(line.frame);
        default:
            return QVariant();
        }
    }

    void append(QVector<Line> &lines)
    {
        if (lines.isEmpty())
            return;
        const int first = m_lines.size();
        beginInsertRows(QModelIndex(), first, first + lines.size() - 1);
        m_lines.append(lines);
        endInsertRows();
    }

    void dropFront(int count)
    {
        count = qMin(count, m_lines.size());
        if (count <= 0)
            return;
        beginRemoveRows(QModelIndex(), 0, count - 1);
        m_lines.erase(m_lines.begin(), m_lines.begin() + count);
        endRemoveRows();
    }

    void clear()
    {
        beginResetModel();
        m_lines.clear();
        m_lines.squeeze();
        endResetModel();
    }

    const Line &line(int row) const { return m_lines.at(row); }

private:
    QVector<Line> m_lines;
};

// A line is two implicitly shared handles and a flag: moved as plain bytes
// when the vector grows or drops a block.
Q_DECLARE_TYPEINFO(TrafficLogModel::Line, Q_MOVABLE_TYPE);

TrafficLog::TrafficLog(QWidget *parent)
    : QAbstractItemView(parent)
    , m_model(new TrafficLogModel(this))
    , m_flushTimer(new QTimer(this))
{
    setModel(m_model);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(FlushIntervalMs);
    connect(m_flushTimer, &QTimer::timeout, this, &TrafficLog::flush);
}

QString TrafficLog::timeText()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = now / 1000;
    if (second != m_cachedSecond) {
        m_cachedSecond = second;
        m_secondText
            = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("hh:mm:ss."));
    }
    return m_secondText + QStringLiteral("%1").arg(int(now % 1000), 3, 10, QLatin1Char('0'));
}

void TrafficLog::addTransfer(const QString &tag, const QByteArray &wire, const QByteArray &frame,
                             const QString &headerNote)
{
    // The header's time is taken now; the view is updated in batches.
    m_pending.append({tag + timeText() + headerNote, QByteArray(), !headerNote.isEmpty()});
    m_pending.append({ZemTool::hexText(wire), frame.isNull() ? QByteArray("") : frame, false});
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void TrafficLog::addNotice(const QString &text)
{
    m_pending.append({TagNotice + timeText() + QLatin1Char(' ') + text, QByteArray(), true});
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void TrafficLog::flush()
{
    m_flushTimer->stop();
    if (m_pending.isEmpty())
        return;
    const int excess = m_model->rowCount() + m_pending.size() - MaxLines;
    if (excess > 0)
        m_model->dropFront(qMax(excess, TrimBlock));
    // A batch larger than the whole log keeps only its newest lines.
    if (m_pending.size() > MaxLines)
        m_pending.erase(m_pending.begin(), m_pending.end() - MaxLines);

    // The horizontal extent follows the longest line seen; lines no longer
    // (in characters) than one already measured are not measured again,
    // which keeps a stream of same-length frames from being measured at all.
    QVector<TrafficLogModel::Line> lines;
    lines.reserve(m_pending.size());
    const QFontMetrics metrics = fontMetrics();
    for (Pending &p : m_pending) {
        if (p.text.size() > m_measuredChars) {
            m_measuredChars = p.text.size();
            m_contentWidth
                = qMax(m_contentWidth, metrics.horizontalAdvance(p.text) + 2 * TextMargin);
        }
        lines.append({std::move(p.text), std::move(p.frame), p.notice});
    }
    m_pending.clear();
    m_model->append(lines);
    updateGeometries();
    viewport()->update();
    scrollToBottom();
}

void TrafficLog::clearLog()
{
    m_pending.clear();
    m_flushTimer->stop();
    m_model->clear();
    m_contentWidth = 0;
    m_measuredChars = 0;
    updateGeometries();
    viewport()->update();
}

int TrafficLog::count() const
{
    return m_model->rowCount();
}

QString TrafficLog::lineText(int row) const
{
    return row >= 0 && row < m_model->rowCount() ? m_model->line(row).text : QString();
}

int TrafficLog::lineHeight() const
{
    if (m_lineHeight <= 0)
        m_lineHeight = fontMetrics().height() + 4;
    return m_lineHeight;
}

QRect TrafficLog::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != m_model)
        return QRect();
    const int h = lineHeight();
    return QRect(-horizontalOffset(), index.row() * h - verticalOffset(),
                 qMax(m_contentWidth, viewport()->width()), h);
}

void TrafficLog::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    const int h = lineHeight();
    const int top = index.row() * h;
    const int height = viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    switch (hint) {
    case PositionAtTop:
        bar->setValue(top);
        break;
    case PositionAtBottom:
        bar->setValue(top + h - height);
        break;
    case PositionAtCenter:
        bar->setValue(top - (height - h) / 2);
        break;
    case EnsureVisible:
        if (top < bar->value())
            bar->setValue(top);
        else if (top + h > bar->value() + height)
            bar->setValue(top + h - height);
        break;
    }
}

QModelIndex TrafficLog::indexAt(const QPoint &point) const
{
    const int y = point.y() + verticalOffset();
    if (y < 0)
        return QModelIndex();
    const int row = y / lineHeight();
    return row < m_model->rowCount() ? m_model->index(row) : QModelIndex();
}

QModelIndex TrafficLog::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int rows = m_model->rowCount();
    if (rows == 0)
        return QModelIndex();
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    const int page = qMax(1, viewport()->height() / lineHeight());
    int row = current;
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        row = current - 1;
        break;
    case MoveDown:
    case MoveNext:
        row = current + 1;
        break;
    case MovePageUp:
        row = current - page;
        break;
    case MovePageDown:
        row = current + page;
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        return currentIndex();
    }
    return m_model->index(qBound(0, row, rows - 1));
}

int TrafficLog::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int TrafficLog::verticalOffset() const
{
    return verticalScrollBar()->value();
}

bool TrafficLog::isIndexHidden(const QModelIndex &) const
{
    return false;
}

void TrafficLog::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    const QRect r = rect.normalized();
    const int h = lineHeight();
    const int first = qBound(0, (r.top() + verticalOffset()) / h, rows - 1);
    const int last = qBound(0, (r.bottom() + verticalOffset()) / h, rows - 1);
    selectionModel()->select(QItemSelection(m_model->index(first), m_model->index(last)), command);
}

QRegion TrafficLog::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    const QRect visible = viewport()->rect();
    for (const QItemSelectionRange &range : selection) {
        const QRect top = visualRect(m_model->index(range.top()));
        const QRect bottom = visualRect(m_model->index(range.bottom()));
        region += top.united(bottom).intersected(visible);
    }
    return region;
}

void TrafficLog::updateGeometries()
{
    const int h = lineHeight();
    QScrollBar *vbar = verticalScrollBar();
    vbar->setSingleStep(h);
    vbar->setPageStep(viewport()->height());
    vbar->setRange(0, qMax(0, m_model->rowCount() * h - viewport()->height()));
    QScrollBar *hbar = horizontalScrollBar();
    hbar->setSingleStep(h);
    hbar->setPageStep(viewport()->width());
    hbar->setRange(0, qMax(0, m_contentWidth - viewport()->width()));
    QAbstractItemView::updateGeometries();
}

void TrafficLog::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    const int rows = m_model->rowCount();
    if (rows == 0)
        return;
    const int h = lineHeight();
    const QRect area = event->rect();
    const int first = qBound(0, (area.top() + verticalOffset()) / h, rows - 1);
    const int last = qBound(0, (area.bottom() + verticalOffset()) / h, rows - 1);
    // The view's default item options; Qt 6 fills them in place instead of
    // returning them.
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QStyleOptionViewItem option = viewOptions();
#else
    QStyleOptionViewItem option;
    initViewItemOption(&option);
#endif
    const QModelIndex current = currentIndex();
    const bool focus = hasFocus();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m_model->index(row);
        QStyleOptionViewItem o = option;
        o.rect = visualRect(index);
        if (selectionModel()->isSelected(index))
            o.state |= QStyle::State_Selected;
        if (focus && index == current)
            o.state |= QStyle::State_HasFocus;
        itemDelegate()->paint(&painter, o, index);
    }
}

void TrafficLog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        // Line widths measured so far stay; the next longer line widens it.
        m_lineHeight = 0;
        updateGeometries();
    }
    QAbstractItemView::changeEvent(event);
}
