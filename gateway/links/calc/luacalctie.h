#ifndef LUACALCTIE_H
#define LUACALCTIE_H

#include "core/repeatedmessage.h"
#include "links/calc/basecalctie.h"
#include "links/calc/luavaliddata.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

struct lua_State;
class BaseTieParam;

// A tie that computes its results with a Lua script. Its input units
// (direction 6) hold consumers fed by other ties; its result units
// (direction 5) hold providers for other ties. Whenever an input unit was
// converted into, the tie publishes the inputs of the converted units as
// global variables (intvalid / floatvalid values), calls the script's
// calculation function, reads the results back from global variables and
// converts them into their consumers. Only FLOATVALID and SDWORDVALID
// parameters take part.
//
// The whole exchange with the interpreter runs in one protected call and is
// bounded by an instruction budget: a script error or an endless loop is
// reported (once, then summarised) and that tick converts no results, so
// their consumers go stale by the tie's data timeout instead of showing
// frozen values as fresh. While the calls succeed, results whose inputs
// simply did not change stay fresh. A bounded interpreter runs without LuaJIT's
// compiler, whose traces would not see the bound; finalizers (__gc), which
// LuaJIT runs with hooks disabled, are not bounded. The tie owns its
// interpreter.
class LuaCalcTie : public BaseCalcTie
{
    Q_OBJECT
public:
    // Identifiers under which a parameter is published (name flags).
    enum NameFlag : quint32 { nfIID = 1, nfKKS = 2, nfRTM = 4, nfExtID = 8, nfAll = 15 };
    // Results of loadCalcFile().
    enum LoadResult {
        lrOk = 0,
        lrModulePath = 1, // package.path could not be set
        lrLoadFile = 2,   // the script could not be read or compiled
        lrRunFile = 3,    // its main chunk raised an error or was aborted
        lrNoState = 4     // no interpreter could be created
    };

    // Lua instructions one call may run (publishing, the calculation, reading
    // back, the collection; the main chunk at load) before it is aborted: far
    // more than any sane calculation needs (tenths of a second).
    static constexpr quint64 DefaultInstructionLimit = 100000000;
    // Wall-clock milliseconds after which a bounded call is aborted even
    // within its instruction budget (slow instructions, long library calls
    // between instructions are not interrupted).
    static constexpr qint64 CallTimeLimitMs = 2000;
    // Bytes the interpreter's heap may hold (the script's data, its code,
    // the libraries): a script that keeps growing a table or builds one huge
    // string gets "not enough memory" at the bound instead of taking the
    // machine's memory from the gateway.
    static constexpr quint64 DefaultMemoryLimit = 256ull * 1024 * 1024;

    explicit LuaCalcTie(QObject *parent = nullptr);
    ~LuaCalcTie() override;

    // Appends `unit` (ownership passes to the tie); its parameters are
    // exchanged from the next calculation on.
    void addUnit(BaseTieUnit *unit) override;

    // Replaces the interpreter with a new one that has run `file` once, and
    // calls `functionName` from then on. Returns a LoadResult (0 on
    // success); errorText() then says why, with Lua's own message.
    int loadCalcFile(const QString &file, const QString &functionName = QStringLiteral("calculate"));
    // When an input unit was converted into: publishes the inputs, calls the
    // function, reads and converts the results. Returns 1 when an input unit
    // was dirty (the script was run), else 0.
    int calulate() override;

    // Under which identifiers parameters are published (NameFlag bits; 1 when built).
    quint32 nameFlags() const { return m_nameFlags; }
    void setNameFlags(quint32 flags);
    QString functionName() const { return m_functionName; }
    QString fileName() const { return m_fileName; }
    // Directories searched by `require` (package.path), in order.
    const QStringList &moduleDirs() const { return m_moduleDirs; }
    // True for the data types whose parameters are published to and read
    // from the script (FLOATVALID, SDWORDVALID).
    static bool exchangesType(quint32 type);
    // Appends `dir` unless present; returns whether it was added.
    bool addModuleDir(const QString &dir);
    // True when `dir` holds a character that changes the meaning of a
    // search path (";" or "?").
    static bool changesSearchPath(const QString &dir);
    // Instruction budget per call; 0 leaves calls unbounded (and only then
    // keeps the JIT compiler on). Takes effect with the next loadCalcFile().
    quint64 instructionLimit() const { return m_instructionLimit; }
    void setInstructionLimit(quint64 limit) { m_instructionLimit = limit; }
    // Heap bound of the interpreter in bytes; 0 leaves it unbounded. Takes
    // effect with the next loadCalcFile().
    quint64 memoryLimit() const { return m_memoryLimit; }
    void setMemoryLimit(quint64 limit) { m_memoryLimit = limit; }

    // The module files the script had loaded (`require`) when its main chunk
    // ended in the last loadCalcFile(), found in the module directories.
    const QStringList &moduleFiles() const { return m_moduleFiles; }

    // Why the last loadCalcFile() failed; empty after a success.
    QString errorText() const { return m_errorText; }
    // Whether the script defined its function when it was loaded.
    bool functionDefined() const { return m_functionDefined; }
    // An input published under a name that was a global function or table
    // of the script when it was loaded (the input hides it).
    struct ShadowedName {
        QString param; // the parameter's description
        QString name;  // the global's name
        QString what;  // "function" or "table"
    };
    const QVector<ShadowedName> &shadowedNames() const { return m_shadowed; }

    // True while the latest call failed.
    bool failing() const { return m_lastCallFailed; }
    // Values on the interpreter's stack (0 between calls), -1 without one.
    int stackTop() const;
    // Kilobytes the interpreter uses, -1 without one.
    int memoryKBytes() const;

private:
    // One published or read parameter with its global names.
    struct ParamBinding {
        BaseTieParam *param = nullptr;
        quint32 type = 0;
        QVector<QByteArray> names;
        // A read result, committed only after the whole exchange succeeded.
        quint32 valueBits = 0;
        qint32 validity = 0;
    };
    struct UnitBinding {
        BaseTieUnit *unit = nullptr;
        QVector<ParamBinding> params;
    };
    class CallScope;

    void closeState();
    void rebuildBindings();
    QVector<QByteArray> globalNames(const BaseTieParam *param) const;
    // Runs `body` in protected mode within the call bounds; on failure
    // `error` gets the message. Restores the stack top.
    bool runProtected(int (*body)(lua_State *), QString &error, bool &aborted);
    // package.path from the module directories.
    QByteArray packagePath() const;
    // Protected bodies: the exchange of one calculation; the libraries of a
    // new interpreter; package.path; the script's main chunk; the look at
    // its globals after it ran.
    static int exchangeBody(lua_State *L);
    static int setupBody(lua_State *L);
    static int packagePathBody(lua_State *L);
    static int chunkBody(lua_State *L);
    static int inspectBody(lua_State *L);
    // Names of package.loaded into m_loadedNames.
    static int loadedNamesBody(lua_State *L);
    // Fills m_moduleFiles from what the script has loaded.
    void collectModuleFiles();
    void exchange(lua_State *L);
    void reportFailure(const QString &error, bool aborted);
    // Ends the fault's streak, with its recovery line, once the calls have
    // run cleanly for the quiet time.
    void endQuietFault();
    QString label() const;

    quint32 m_nameFlags;
    lua_State *m_state;
    LuaValidTypes m_types;
    QString m_functionName;
    QByteArray m_functionKey;
    QString m_fileName;
    QStringList m_moduleDirs;
    QStringList m_loadedNames;
    QStringList m_moduleFiles;
    quint64 m_instructionLimit;
    quint64 m_activeLimit; // the limit the interpreter was loaded with
    quint64 m_memoryLimit;
    // The heap of the running interpreter, counted by its allocator.
    struct Heap {
        quint64 limit = 0; // 0: unbounded
        quint64 used = 0;
        bool refused = false; // an allocation was refused since the flag was cleared
    };
    static void *allocate(void *heap, void *block, size_t oldSize, size_t newSize);
    Heap m_heap;
    QString m_errorText;
    bool m_functionDefined;
    bool m_chunkCompiled;
    QVector<ShadowedName> m_shadowed;
    bool m_bindingsStale;
    QVector<UnitBinding> m_inputs;
    QVector<UnitBinding> m_results;
    // Input units converted into since the last call (pointers into m_inputs).
    QVector<UnitBinding *> m_dirty;
    // Set while the inputs are put into the interpreter; still set after a
    // failed call when that was cut short, so that the next calculation
    // puts every input, not only the changed ones.
    bool m_publishing = false;
    bool m_lastCallFailed = false;
    // A fault that comes and goes with the data is one streak: it ends only
    // once the calls have run cleanly for the quiet time.
    RepeatedMessage m_fault;
    // loadCalcFile() calls so far: the faults of each loaded script are one
    // streak of their own.
    quint64 m_loads = 0;
};

#endif // LUACALCTIE_H
