#pragma once

#include <QPlainTextEdit>

// A multi-line text box as the lists and the long fields need it: plain text shown exactly as
// typed, wrapped, a vertical scroll bar always there, and Tab moving on to the next control.
class TextBox : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit TextBox(QWidget *parent = nullptr);

protected:
    // A box showing \a document, which it takes for its own.
    TextBox(QTextDocument *document, QWidget *parent);

    // Gives \a document what the one the box shows has from it: the line layout, drawn on the
    // box, the font and the options, so that it can take that one's place.
    void fit(QTextDocument *document) const;

    void keyPressEvent(QKeyEvent *event) override;

private:
    void layOut(QTextDocument *document) const;
};
