#pragma once

#include <QLabel>

// A one-line label that ends a text too long for it with "…" instead of cutting it off,
// and shows the whole text as its tool tip. text() is always the whole text.
class ElidedLabel final : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    bool isElided() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
};
