// The print-order chooser: whether the printed song list is sorted by title
// or by performer / category.  It has no cancel: closing it by its close box
// prints as well, in the order then selected.
#pragma once

#include <QDialog>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

class TformOrder : public QDialog {
    Q_OBJECT
public:
    explicit TformOrder(QWidget* parent = nullptr);
    ~TformOrder() override;

    // The radio group "Organizar lista por:": item 0 "Música", item 1
    // "Intérprete / Categoria".
    QGroupBox* RG;
    QRadioButton* rbMusica;
    QRadioButton* rbInterprete;
    QPushButton* bOk;

    int itemIndex() const;
    void setItemIndex(int index);

protected:
    void showEvent(QShowEvent* event) override;
};

// The window of the running program (null while there is none).
extern TformOrder* formOrder;
