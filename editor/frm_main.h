// The editor's main window: it edits one module file at a time. The controls
// hold the values; each save button writes its own group of keys straight
// into the file named by the shared ModulePath, and the rules of a step are
// read from the file again whenever the step is chosen.
#pragma once

#include <QList>
#include <QWidget>
#include <cstdint>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace sentrel::editor {

class Common;
class FlexGrid;
class SaveWarnings;
enum class FileChoice;

// The window's caption: the product name, a blank and the editor's name. With
// a module file chosen, the title adds " - " and the file's path.
inline constexpr const char* kWindowCaption = "Tarnwick Rulesmith";

// The file of offered server-variable names, looked up in the current folder.
inline constexpr const char* kVariableListFile = "服务器变量名.txt";

// Most steps or rules a module file may list that the editor reads; a larger
// count in a file reads as this many.
inline constexpr int kMaxListedEntries = 10000;

// A numeric value: optional blanks, an optional sign, one or more decimal
// digits, optional blanks.
bool IsNumeric(const QString& text);

// The integer of a numeric value within the signed 32-bit range; nothing for
// any other text.
std::optional<std::int32_t> ParseNumber(const QString& text);

// The number of steps or rules a count key lists, read as the filter reads a
// count: the number at the start of the value ("2 steps" lists 2), at most
// kMaxListedEntries; 0 when the value does not start with a number or the
// number is below 1.
int ListedCount(const QString& text);

class frmMain : public QWidget {
  Q_OBJECT

 public:
  // Loads the window: fills the fixed lists and grids, reads the variable
  // list and hooks the grids' wheel handling.
  explicit frmMain(Common& common, QWidget* parent = nullptr);
  ~frmMain() override;

  // Row position (from 1) at which the rule confirm stores the edited rule.
  std::int32_t CurrentRulePos = 0;

  // Window-level commands.
  QPushButton* cmdNew = nullptr;
  QPushButton* cmdOpen = nullptr;

  // About.
  QGroupBox* fraAbout = nullptr;
  QLineEdit* txtName = nullptr;
  QLineEdit* txtAuthor = nullptr;
  QLineEdit* txtVersion = nullptr;
  QPlainTextEdit* txtAbout = nullptr;
  QPushButton* cmdAboutSave = nullptr;
  QLabel* lblName = nullptr;
  QLabel* lblAuthor = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblAbout = nullptr;

  // Module parameters.
  QGroupBox* fraSet = nullptr;
  FlexGrid* msfConfig = nullptr;
  QComboBox* comPriority = nullptr;
  QComboBox* comExecute = nullptr;
  QComboBox* comConfig = nullptr;
  QLineEdit* txtConfig = nullptr;
  QPushButton* cmdSave = nullptr;

  // Steps.
  QGroupBox* fraStep = nullptr;
  QTreeWidget* lvwSetp = nullptr;
  QPushButton* cmdSetpAdd = nullptr;
  QPushButton* cmdSetpSave = nullptr;
  QPushButton* cmdSetpDel = nullptr;
  QPushButton* cmdSetpTop = nullptr;
  QPushButton* cmdSetpUp = nullptr;
  QPushButton* cmdSetpDown = nullptr;
  QPushButton* cmdSetpBottom = nullptr;

  // Rules of the chosen step.
  QGroupBox* fraRule = nullptr;
  QGroupBox* fraStepConfig = nullptr;
  FlexGrid* msfSetp = nullptr;
  QComboBox* comTimes = nullptr;
  QLineEdit* txtStepConfig = nullptr;
  QTreeWidget* lvwRules = nullptr;
  QComboBox* comParameter = nullptr;
  QComboBox* comCompare = nullptr;
  QLineEdit* txtRule = nullptr;
  QLabel* lblParameter = nullptr;
  QLabel* lblCompare = nullptr;
  QLabel* lblRule = nullptr;
  QPushButton* cmdRuleAdd = nullptr;
  QPushButton* cmdRuleSave = nullptr;
  QPushButton* cmdRulesSave = nullptr;
  QPushButton* cmdRuleDel = nullptr;
  QPushButton* cmdRuleTop = nullptr;
  QPushButton* cmdRuleUp = nullptr;
  QPushButton* cmdRuleDown = nullptr;
  QPushButton* cmdRuleBottom = nullptr;

  // Commands of the module document.
  void cmdNew_Click();
  void cmdOpen_Click();
  void cmdAboutSave_Click();
  void cmdSave_Click();

  // Cell editors.
  void msfConfig_Click();
  void msfSetp_Click();

  // Steps.
  void cmdSetpAdd_Click();
  void cmdSetpSave_Click();
  void cmdSetpDel_Click();
  void cmdSetpTop_Click();
  void cmdSetpUp_Click();
  void cmdSetpDown_Click();
  void cmdSetpBottom_Click();
  void lvwSetp_Click();

  // Rules.
  void cmdRuleAdd_Click();
  void cmdRuleSave_Click();
  void cmdRulesSave_Click();
  void cmdRuleDel_Click();
  void cmdRuleTop_Click();
  void cmdRuleUp_Click();
  void cmdRuleDown_Click();
  void cmdRuleBottom_Click();
  void lvwRules_Click();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  enum class Move { Top, Up, Down, Bottom };

  // Window load and its parts: the layout (frm_main_layout.cpp), then the
  // variable list and the wiring (frm_main.cpp).
  void BuildControls();
  void PlaceControls();
  void LoadFixedContents();
  void LoadVariableList();
  void ConnectCommands();
  void Unload();

  // The three document states.
  void ShowAboutSave(bool shown);

  // The choices of a module file that Open checks before it changes
  // anything: list indexes of comExecute (-1 for none) and comPriority.
  struct ModuleChoices {
    int execute = -1;
    int priority = 0;
  };
  // False when the file holds an action the editor cannot show.
  bool ReadChoices(const QString& file, ModuleChoices& choices) const;
  // Fills the window from ModulePath.
  void LoadModule(const ModuleChoices& choices);
  // Asks for a module file in the folder of the current one.
  QString ChooseModuleFile(FileChoice choice);
  // The caption, followed by the module file's path when there is one.
  void ShowTitle();

  // Cell editors.
  QList<QWidget*> CellEditors() const;
  void InstallCellEditor(QWidget* editor);
  void OpenCellEditor(FlexGrid* grid, QWidget* editor, int row, int col);
  FlexGrid* GridOf(const QWidget* editor) const;
  QWidget* CellEditorOf(QObject* watched) const;
  static QString EditorText(const QWidget* editor);
  void CommitCellEdit(QWidget* editor);
  void DropCellEdit(QWidget* editor);
  void CellItemChosen(QComboBox* editor);

  // Lists.
  static QTreeWidgetItem* SelectedRow(const QTreeWidget* list);
  static void SelectRow(QTreeWidget* list, int position);
  void MoveStep(Move move);
  void MoveRule(Move move);
  void LoadStepRules(const QString& identifier);

  void Inform(const QString& text, const QString& title);
  // True when nothing was noted, or when the administrator chooses to save
  // what was noted anyway.
  bool ConfirmSave(const SaveWarnings& warnings);

  Common& common_;
  bool unloaded_ = false;
};

}  // namespace sentrel::editor
