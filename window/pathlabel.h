// The window's path fields: labels drawn as sunken boxes that show a path inside their box whatever
// its length. The caption itself always holds the whole path, since the commands read it back.
#pragma once

#include <QLabel>

namespace quillarn {

class PathLabel : public QLabel {
public:
    explicit PathLabel(QWidget *parent = nullptr);

    // Returns what the field draws: the caption wrapped at any character, or, when that still does
    // not fit, "…" and as much of the caption's end (the file name) as fits.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    QRect textBox() const;
};

} // namespace quillarn
