#include "links/calc/luacalctie.h"

#include "core/basetieparam.h"
#include "core/basetieunit.h"
#include "core/clock.h"
#include "core/diag.h"
#include "core/regularfile.h"
#include "core/signrules.h"

#include <dpdatatype.h>

#include <lua.hpp>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Instructions between two looks of the bound at a running call.
constexpr int kHookInterval = 10000;

// The bound of the call that runs now on this thread.
struct CallBudget {
    quint64 limit = 0;
    quint64 used = 0;
    int interval = kHookInterval;
    qint64 startMs = 0;
    bool aborted = false;
    char message[512] = {0};
};

thread_local CallBudget *t_budget = nullptr;

int hookInterval(quint64 limit)
{
    return limit > 0 && limit < static_cast<quint64>(kHookInterval) ? static_cast<int>(limit) : kHookInterval;
}

// Writes into `b.message` where and why the call was aborted. The position is
// the start of the running function, the same however far a loop got, so
// that an abort repeated every tick is recognised as the same fault.
void describeAbort(lua_State *L, CallBudget &b, bool overCount)
{
    char reason[160];
    if (overCount)
        std::snprintf(reason, sizeof reason, "it ran more than %llu instructions (instructionlimit)",
                      static_cast<unsigned long long>(b.limit));
    else
        std::snprintf(reason, sizeof reason, "it ran longer than %lld ms", static_cast<long long>(LuaCalcTie::CallTimeLimitMs));
    lua_Debug ar;
    std::memset(&ar, 0, sizeof ar);
    if (lua_getstack(L, 0, &ar) && lua_getinfo(L, "S", &ar)) {
        if (ar.what && std::strcmp(ar.what, "main") == 0)
            std::snprintf(b.message, sizeof b.message, "%s: the main chunk was aborted: %s", ar.short_src, reason);
        else
            std::snprintf(b.message, sizeof b.message, "%s:%d: the function starting here was aborted: %s",
                          ar.short_src, ar.linedefined, reason);
    } else {
        std::snprintf(b.message, sizeof b.message, "the calculation was aborted: %s", reason);
    }
}

// The count hook of a bounded interpreter. Once a call is over its budget
// it raises at every further instruction, so that a pcall inside the
// script cannot swallow the abort and carry on.
void boundHook(lua_State *L, lua_Debug *)
{
    CallBudget *b = t_budget;
    if (!b)
        return;
    if (!b->aborted) {
        b->used += static_cast<quint64>(b->interval);
        const bool overCount = b->used > b->limit;
        const bool overTime = Clock::monotonicMsecs() - b->startMs > LuaCalcTie::CallTimeLimitMs;
        if (!overCount && !overTime)
            return;
        b->aborted = true;
        describeAbort(L, *b, overCount);
        lua_sethook(L, &boundHook, LUA_MASKCOUNT, 1);
    }
    lua_pushstring(L, b->message);
    lua_error(L);
}

// jit.on() of a bounded interpreter: compiled code would not see the bound.
int refuseJitOn(lua_State *L)
{
    return luaL_error(L, "jit.on: the JIT compiler stays off while calculations are bounded "
                         "(instructionlimit=\"0\" runs them unbounded, with the compiler on)");
}

// debug.sethook() of a bounded interpreter: the interpreter has one hook,
// and it carries the bound.
int refuseSetHook(lua_State *L)
{
    return luaL_error(L, "debug.sethook: the hook stays with the bound while calculations are bounded "
                         "(instructionlimit=\"0\" runs them unbounded)");
}

// os.exit(): a calculation does not end the gateway (nor close its own
// interpreter while it runs).
int refuseExit(lua_State *L)
{
    return luaL_error(L, "os.exit is not available in calculations");
}

// xpcall() of a bounded interpreter. LuaJIT runs a message handler before
// it unwinds, with the hook marked active, so the bound would not see an
// endless handler; this one runs the handler after pcall has returned,
// where the hook fires again. The results are xpcall's: true and f's
// results, or false and the handler's first result ("error in error
// handling" when the handler fails). debug.traceback, which runs no Lua
// code, and arguments that are no function still go to LuaJIT's own xpcall,
// so that a traceback shows where the error was raised.
const char kBoundedXpcall[] =
    "local pcall, xpcall, traceback, type = pcall, xpcall, debug and debug.traceback, type\n"
    "local function finish(handler, ok, ...)\n"
    "  if ok then return true, ... end\n"
    "  local handled, result = pcall(handler, (...))\n"
    "  if handled then return false, result end\n"
    "  return false, 'error in error handling'\n"
    "end\n"
    "return function(f, handler, ...)\n"
    "  if handler == traceback or type(handler) ~= 'function' then return xpcall(f, handler, ...) end\n"
    "  return finish(handler, pcall(f, ...))\n"
    "end\n";

// Sets the field `name` of the library table `library` (when there is one)
// to `function`.
void replaceFunction(lua_State *L, const char *library, const char *name, lua_CFunction function)
{
    lua_getfield(L, LUA_GLOBALSINDEX, library);
    if (lua_istable(L, -1)) {
        lua_pushcfunction(L, function);
        lua_setfield(L, -2, name);
    }
    lua_pop(L, 1);
}

// Bytes of a script's error text that are reported: the text is copied
// outside the interpreter's memory bound, into the warning, the log and the
// streak that repeats it.
constexpr size_t kErrorTextBytes = 1000;

// The text of the error object on top of the stack, without running any
// of the script's metamethods; a longer one is cut at a character's start
// and ends in "...".
QString errorObjectText(lua_State *L)
{
    const int type = lua_type(L, -1);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
        size_t length = 0;
        const char *text = lua_tolstring(L, -1, &length);
        if (length <= kErrorTextBytes)
            return QString::fromUtf8(text, static_cast<int>(length));
        size_t cut = kErrorTextBytes;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;
        return QString::fromUtf8(text, static_cast<int>(cut)) + QStringLiteral("...");
    }
    return QStringLiteral("(error object is a %1 value)").arg(QString::fromLatin1(lua_typename(L, type)));
}

// Only a call outside every protected frame gets here; all of this tie's
// calls into the interpreter are protected.
int panic(lua_State *L)
{
    std::fprintf(stderr, "LuaCalcTie: unprotected error in the Lua interpreter: %s\n",
                 lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : "(no message)");
    return 0;
}

bool isValuedType(quint32 type)
{
    return type == dpdtFloatValid || type == dpdtSDWordValid;
}

} // namespace

// Holds the bounds and the value types for one entry into the interpreter.
class LuaCalcTie::CallScope
{
public:
    explicit CallScope(LuaCalcTie &tie)
        : m_state(tie.m_state)
        , m_types(&tie.m_types)
        , m_previous(t_budget)
    {
        m_budget.limit = tie.m_activeLimit;
        m_budget.interval = hookInterval(tie.m_activeLimit);
        m_budget.startMs = Clock::monotonicMsecs();
        t_budget = tie.m_activeLimit > 0 ? &m_budget : nullptr;
        // Installed at every entry: a hook the script replaced anyhow holds
        // no longer than the call that replaced it.
        if (tie.m_activeLimit > 0)
            lua_sethook(m_state, &boundHook, LUA_MASKCOUNT, m_budget.interval);
    }
    ~CallScope() { t_budget = m_previous; }
    CallScope(const CallScope &) = delete;
    CallScope &operator=(const CallScope &) = delete;

    bool aborted() const { return m_budget.aborted; }
    QString message() const { return QString::fromUtf8(m_budget.message); }

private:
    lua_State *m_state;
    LuaValidScope m_types;
    CallBudget m_budget;
    CallBudget *m_previous;
};

LuaCalcTie::LuaCalcTie(QObject *parent)
    : BaseCalcTie(parent)
    , m_nameFlags(nfIID)
    , m_state(nullptr)
    , m_functionName(QStringLiteral("calculate"))
    , m_functionKey("calculate")
    , m_instructionLimit(DefaultInstructionLimit)
    , m_activeLimit(0)
    , m_memoryLimit(DefaultMemoryLimit)
    , m_functionDefined(false)
    , m_chunkCompiled(false)
    , m_bindingsStale(true)
{
}

LuaCalcTie::~LuaCalcTie()
{
    closeState();
}

void LuaCalcTie::addUnit(BaseTieUnit *unit)
{
    BaseCalcTie::addUnit(unit);
    m_bindingsStale = true;
}

void LuaCalcTie::setNameFlags(quint32 flags)
{
    m_nameFlags = flags;
    m_bindingsStale = true;
}

bool LuaCalcTie::addModuleDir(const QString &dir)
{
    if (m_moduleDirs.contains(dir))
        return false;
    m_moduleDirs.append(dir);
    return true;
}

bool LuaCalcTie::exchangesType(quint32 type)
{
    return isValuedType(type);
}

bool LuaCalcTie::changesSearchPath(const QString &dir)
{
    return dir.contains(QLatin1Char(';')) || dir.contains(QLatin1Char('?'));
}

int LuaCalcTie::stackTop() const
{
    return m_state ? lua_gettop(m_state) : -1;
}

int LuaCalcTie::memoryKBytes() const
{
    return m_state ? lua_gc(m_state, LUA_GCCOUNT, 0) : -1;
}

void LuaCalcTie::closeState()
{
    if (!m_state)
        return;
    {
        // Finalizers of the script run while the state closes: bounded too.
        CallScope scope(*this);
        lua_close(m_state);
    }
    m_state = nullptr;
    m_types = LuaValidTypes();
}

void *LuaCalcTie::allocate(void *heap, void *block, size_t oldSize, size_t newSize)
{
    Heap &h = *static_cast<Heap *>(heap);
    const size_t held = block ? oldSize : 0;
    if (newSize == 0) {
        std::free(block);
        h.used -= held;
        return nullptr;
    }
    if (h.limit > 0 && newSize > held && newSize - held > h.limit - std::min<quint64>(h.used, h.limit)) {
        h.refused = true;
        return nullptr;
    }
    void *moved = std::realloc(block, newSize);
    if (moved)
        h.used = h.used - held + newSize;
    else if (newSize > held)
        h.refused = true;
    return moved;
}

int LuaCalcTie::loadCalcFile(const QString &file, const QString &functionName)
{
    closeState();
    m_errorText.clear();
    m_functionDefined = false;
    m_shadowed.clear();
    m_moduleFiles.clear();
    ++m_loads;
    m_fileName = file;
    m_functionName = functionName;
    m_functionKey = functionName.toUtf8();
    m_activeLimit = m_instructionLimit;

    m_heap = Heap();
    m_heap.limit = m_memoryLimit;
    m_state = lua_newstate(&LuaCalcTie::allocate, &m_heap);
    if (m_state) {
        lua_atpanic(m_state, &panic);
    } else if (m_heap.refused) {
        m_errorText = QStringLiteral("no Lua interpreter could be created within %1 bytes (memorylimit)")
                          .arg(m_heap.limit);
        return lrNoState;
    } else {
        // An interpreter built for 32-bit addresses takes no allocator of ours.
        m_state = luaL_newstate();
        if (m_state)
            GATE_DEBUG(1, "LuaCalcTie::loadCalcFile(): memorylimit not applied: this LuaJIT keeps its own allocator");
    }
    if (!m_state) {
        m_errorText = QStringLiteral("no Lua interpreter could be created (out of memory)");
        return lrNoState;
    }
    QString error;
    bool aborted = false;
    if (!runProtected(&LuaCalcTie::setupBody, error, aborted)) {
        m_errorText = error;
        closeState();
        return lrNoState;
    }
    if (!m_moduleDirs.isEmpty()) {
        GATE_DEBUG(4, "LuaCalcTie::preInit(): str is \"%s\"", packagePath().constData());
        const bool pathSet = runProtected(&LuaCalcTie::packagePathBody, error, aborted);
        GATE_DEBUG(4, "LuaCalcTie::preInit(): luaL_dostring result is %i", pathSet ? 0 : 1);
        if (!pathSet) {
            GATE_DEBUG(5, "%s", qUtf8Printable(error));
            m_errorText = error;
            return lrModulePath;
        }
    }

    rebuildBindings();
    m_chunkCompiled = false;
    const bool ran = runProtected(&LuaCalcTie::chunkBody, error, aborted);
    collectModuleFiles();
    if (!ran) {
        m_errorText = error;
        return m_chunkCompiled ? lrRunFile : lrLoadFile;
    }
    if (!runProtected(&LuaCalcTie::inspectBody, error, aborted)) {
        m_errorText = error;
        return lrRunFile;
    }
    return lrOk;
}

QByteArray LuaCalcTie::packagePath() const
{
    QByteArray path;
    for (const QString &dir : m_moduleDirs) {
        if (!path.isEmpty())
            path += ';';
        path += QFile::encodeName(dir) + "/?.lua";
    }
    return path;
}

int LuaCalcTie::setupBody(lua_State *L)
{
    auto *self = static_cast<LuaCalcTie *>(lua_touserdata(L, 1));
    luaL_openlibs(L);
    luaValidOpenLibraries(L, self->m_types);
    replaceFunction(L, "os", "exit", &refuseExit);
    if (self->m_activeLimit > 0) {
        // Compiled traces do not call the count hook: the bound holds only
        // in the interpreter.
        luaJIT_setmode(L, 0, LUAJIT_MODE_ENGINE | LUAJIT_MODE_OFF);
        replaceFunction(L, "jit", "on", &refuseJitOn);
        replaceFunction(L, "debug", "sethook", &refuseSetHook);
        if (luaL_loadbuffer(L, kBoundedXpcall, sizeof kBoundedXpcall - 1, "=xpcall") != 0)
            return lua_error(L);
        lua_call(L, 0, 1);
        lua_setfield(L, LUA_GLOBALSINDEX, "xpcall");
    }
    return 0;
}

int LuaCalcTie::packagePathBody(lua_State *L)
{
    auto *self = static_cast<LuaCalcTie *>(lua_touserdata(L, 1));
    lua_getfield(L, LUA_GLOBALSINDEX, "package");
    if (!lua_istable(L, -1))
        return luaL_error(L, "the package library is missing");
    const QByteArray path = self->packagePath();
    lua_pushlstring(L, path.constData(), static_cast<size_t>(path.size()));
    lua_setfield(L, -2, "path");
    return 0;
}

int LuaCalcTie::chunkBody(lua_State *L)
{
    auto *self = static_cast<LuaCalcTie *>(lua_touserdata(L, 1));
    // The interpreter's own open waits on a FIFO and reads a device for ever.
    QString reason;
    const int fd = openRegularFile(self->m_fileName, O_RDONLY, &reason);
    if (fd < 0)
        return luaL_error(L, "cannot open %s: %s", QFile::encodeName(self->m_fileName).constData(),
                          reason.toUtf8().constData());
    ::close(fd);
    if (luaL_loadfile(L, QFile::encodeName(self->m_fileName).constData()) != 0)
        return lua_error(L);
    self->m_chunkCompiled = true;
    lua_call(L, 0, 0);
    return 0;
}

int LuaCalcTie::loadedNamesBody(lua_State *L)
{
    auto *self = static_cast<LuaCalcTie *>(lua_touserdata(L, 1));
    lua_pushliteral(L, "package");
    lua_rawget(L, LUA_GLOBALSINDEX);
    if (!lua_istable(L, -1))
        return 0;
    lua_pushliteral(L, "loaded");
    lua_rawget(L, -2);
    if (!lua_istable(L, -1))
        return 0;
    lua_pushnil(L);
    while (lua_next(L, -2) != 0) {
        if (lua_type(L, -2) == LUA_TSTRING) {
            size_t length = 0;
            const char *name = lua_tolstring(L, -2, &length);
            self->m_loadedNames.append(QString::fromUtf8(name, static_cast<int>(length)));
        }
        lua_pop(L, 1);
    }
    return 0;
}

void LuaCalcTie::collectModuleFiles()
{
    m_loadedNames.clear();
    QString error;
    bool aborted = false;
    runProtected(&LuaCalcTie::loadedNamesBody, error, aborted);
    // As the search path finds them: "a.b" is a/b.lua in the first directory that has it.
    for (const QString &name : qAsConst(m_loadedNames)) {
        const QString relative = QString(name).replace(QLatin1Char('.'), QLatin1Char('/')) + QLatin1String(".lua");
        for (const QString &dir : qAsConst(m_moduleDirs)) {
            const QString path = dir + QLatin1Char('/') + relative;
            if (QFileInfo(path).isFile()) {
                m_moduleFiles.append(path);
                break;
            }
        }
    }
    m_loadedNames.clear();
}

int LuaCalcTie::inspectBody(lua_State *L)
{
    auto *self = static_cast<LuaCalcTie *>(lua_touserdata(L, 1));
    lua_pushlstring(L, self->m_functionKey.constData(), static_cast<size_t>(self->m_functionKey.size()));
    lua_rawget(L, LUA_GLOBALSINDEX);
    self->m_functionDefined = lua_isfunction(L, -1);
    lua_pop(L, 1);
    for (const UnitBinding &unit : qAsConst(self->m_inputs)) {
        for (const ParamBinding &p : unit.params) {
            if (!isValuedType(p.type))
                continue;
            for (const QByteArray &name : p.names) {
                lua_pushlstring(L, name.constData(), static_cast<size_t>(name.size()));
                lua_rawget(L, LUA_GLOBALSINDEX);
                const int type = lua_type(L, -1);
                lua_pop(L, 1);
                if (type == LUA_TFUNCTION || type == LUA_TTABLE)
                    self->m_shadowed.append({p.param->description(), QString::fromUtf8(name),
                                             QString::fromLatin1(lua_typename(L, type))});
            }
        }
    }
    return 0;
}

bool LuaCalcTie::runProtected(int (*body)(lua_State *), QString &error, bool &aborted)
{
    const int top = lua_gettop(m_state);
    bool ok = false;
    m_heap.refused = false;
    {
        CallScope scope(*this);
        const int status = lua_cpcall(m_state, body, this);
        ok = status == 0;
        aborted = scope.aborted();
        if (aborted) {
            error = scope.message();
        } else if (status == LUA_ERRMEM && m_heap.refused) {
            aborted = true;
            error = QStringLiteral("the calculation was aborted: it needed more than %1 bytes of memory (memorylimit)")
                        .arg(m_heap.limit);
        } else if (!ok) {
            error = errorObjectText(m_state);
        }
    }
    lua_settop(m_state, top);
    return ok && !aborted;
}

QVector<QByteArray> LuaCalcTie::globalNames(const BaseTieParam *param) const
{
    const QString ids[] = {param->IID(), param->KKS(), param->RTM(), param->extID()};
    const quint32 flags[] = {nfIID, nfKKS, nfRTM, nfExtID};
    QVector<QByteArray> names;
    for (int i = 0; i < 4; ++i) {
        if (!(m_nameFlags & flags[i]) || ids[i].isEmpty())
            continue;
        const QByteArray name = ids[i].toUtf8();
        if (!names.contains(name))
            names.append(name);
    }
    return names;
}

void LuaCalcTie::rebuildBindings()
{
    m_inputs.clear();
    m_results.clear();
    for (BaseTieUnit *unit : units()) {
        if (!unit)
            continue;
        const bool input = unit->direction() & BaseTieUnit::dirToThis;
        const bool result = unit->direction() & BaseTieUnit::dirFromThis;
        if (!input && !result)
            continue;
        UnitBinding binding;
        binding.unit = unit;
        for (BaseTieParam *param : unit->params()) {
            if (!param)
                continue;
            ParamBinding p;
            p.param = param;
            p.type = param->metatype();
            p.names = globalNames(param);
            binding.params.append(p);
        }
        if (input)
            m_inputs.append(binding);
        if (result)
            m_results.append(binding);
    }
    m_dirty.clear();
    m_dirty.reserve(m_inputs.size());
    m_bindingsStale = false;
}

namespace {

// Publishes one input under its global names (one value, several names).
void putParamToLua(lua_State *L, const LuaValidTypes &types, LuaCalcTie *tie, const BaseTieParam *param,
                   quint32 type, const QVector<QByteArray> &names)
{
    GATE_DEBUG(4, "putParamToLua(%p, %p): Putting param (%s) into lua", static_cast<void *>(tie),
               static_cast<const void *>(param), qUtf8Printable(param->description()));
    const uchar *values = param->values();
    if (!isValuedType(type) || !values || param->size() < 8) {
        GATE_DEBUG(4, "    Putting paramtype %i (%s) into lua not implemented", static_cast<int>(type),
                   DPDataTypeToString(type).toLatin1().constData());
        return;
    }
    qint32 validity = 0;
    std::memcpy(&validity, values + 4, sizeof validity);
    // Lua counts any validity above 0 as valid: a positive word the gateway
    // counts invalid goes in as 0. Words of 0 and below go in unchanged.
    if (validity > 0 && !sign::ValidWord::isValid(static_cast<sign::ValidWord::Word>(validity)))
        validity = 0;
    if (type == dpdtFloatValid) {
        float value = 0.0f;
        std::memcpy(&value, values, sizeof value);
        GATE_DEBUG(6, "    Putting FloatValid %f (v:%i)", static_cast<double>(value), validity);
        luaValidPushFloat(L, types, value, validity);
    } else {
        qint32 value = 0;
        std::memcpy(&value, values, sizeof value);
        GATE_DEBUG(6, "    Putting SDWordValid %i (v:%i)", value, validity);
        luaValidPushInt(L, types, value, validity);
    }
    for (const QByteArray &name : names) {
        lua_pushlstring(L, name.constData(), static_cast<size_t>(name.size()));
        lua_pushvalue(L, -2);
        lua_settable(L, LUA_GLOBALSINDEX);
    }
    lua_pop(L, 1);
}

// A read result: the value's bits and the gateway's valid word (1 or 0).
struct ResultValue {
    quint32 bits = 0;
    qint32 validity = 0;
};

ResultValue floatResult(float value, bool valid)
{
    ResultValue r;
    std::memcpy(&r.bits, &value, sizeof value);
    r.validity = valid && std::isfinite(value) ? 1 : 0;
    return r;
}

ResultValue intResult(qint32 value, bool valid)
{
    ResultValue r;
    std::memcpy(&r.bits, &value, sizeof value);
    r.validity = valid ? 1 : 0;
    return r;
}

// Converts the Lua value on top of the stack into a result of `type`.
ResultValue convertResult(lua_State *L, const LuaValidTypes &types, quint32 type)
{
    const bool toFloat = type == dpdtFloatValid;
    switch (lua_type(L, -1)) {
    case LUA_TNUMBER: {
        const double number = lua_tonumber(L, -1);
        GATE_DEBUG(7, "   Number => %s(%f)", toFloat ? "FloatValid" : "SDWordValid", number);
        if (toFloat) {
            float f = 0.0f;
            const bool ok = luaNumberToFloat(number, f);
            return floatResult(f, ok);
        }
        qint32 i = 0;
        const bool ok = luaNumberToSDWord(number, i);
        return intResult(i, ok);
    }
    case LUA_TBOOLEAN: {
        const int b = lua_toboolean(L, -1) ? 1 : 0;
        GATE_DEBUG(7, "   Boolean => %s(%i, 1)", toFloat ? "FloatValid" : "SDWordValid", b);
        return toFloat ? floatResult(static_cast<float>(b), true) : intResult(b, true);
    }
    case LUA_TUSERDATA:
        if (BaseLuaUserData *d = luaValidAt(L, -1, types)) {
            const bool valid = d->isValid();
            GATE_DEBUG(7, "   %s => %s(%f, %i)", d->kind() == BaseLuaUserData::kindInt ? "IntValid" : "FloatValid",
                       toFloat ? "FloatValid" : "SDWordValid", d->number(), d->validity());
            if (d->kind() == BaseLuaUserData::kindInt) {
                const qint32 v = static_cast<IntValidUserData *>(d)->value();
                return toFloat ? floatResult(static_cast<float>(v), valid) : intResult(v, valid);
            }
            const float f = static_cast<FloatValidUserData *>(d)->value();
            if (toFloat)
                return floatResult(f, valid);
            qint32 i = 0;
            const bool ok = luaNumberToSDWord(f, i);
            return intResult(i, valid && ok);
        }
        break;
    default:
        break;
    }
    GATE_DEBUG(7, "   %s => %s(0, 0)", lua_typename(L, lua_type(L, -1)), toFloat ? "FloatValid" : "SDWordValid");
    return toFloat ? floatResult(0.0f, false) : intResult(0, false);
}

// Reads one result from the first of its global names that is not nil.
ResultValue getParamFromLua(lua_State *L, const LuaValidTypes &types, const BaseTieParam *param, quint32 type,
                            const QVector<QByteArray> &names)
{
    if (!isValuedType(type)) {
        GATE_DEBUG(4, "    Getting paramtype %i (%s) from lua not implemented", static_cast<int>(type),
                   DPDataTypeToString(type).toLatin1().constData());
        Q_UNUSED(param);
        return ResultValue();
    }
    lua_pushnil(L);
    for (const QByteArray &name : names) {
        lua_pop(L, 1);
        lua_pushlstring(L, name.constData(), static_cast<size_t>(name.size()));
        lua_gettable(L, LUA_GLOBALSINDEX);
        if (!lua_isnil(L, -1))
            break;
    }
    const ResultValue r = convertResult(L, types, type);
    lua_pop(L, 1);
    return r;
}

} // namespace

int LuaCalcTie::exchangeBody(lua_State *L)
{
    static_cast<LuaCalcTie *>(lua_touserdata(L, 1))->exchange(L);
    return 0;
}

void LuaCalcTie::exchange(lua_State *L)
{
    m_publishing = true;
    for (const UnitBinding *unit : qAsConst(m_dirty)) {
        for (const ParamBinding &p : unit->params)
            putParamToLua(L, m_types, this, p.param, p.type, p.names);
    }
    m_publishing = false;

    lua_pushlstring(L, m_functionKey.constData(), static_cast<size_t>(m_functionKey.size()));
    lua_gettable(L, LUA_GLOBALSINDEX);
    if (lua_isfunction(L, -1)) {
        lua_pushnumber(L, 0);
        lua_call(L, 1, 1);
        GATE_DEBUG(4, "LuaCalcTie::calulate(): pcall result=%lf\n", lua_isnil(L, -1) ? 0.0 : lua_tonumber(L, -1));
        lua_pop(L, 1);
        lua_gc(L, LUA_GCCOLLECT, 0);
    } else {
        lua_pop(L, 1);
    }

    for (UnitBinding &unit : m_results) {
        for (ParamBinding &p : unit.params) {
            const ResultValue r = getParamFromLua(L, m_types, p.param, p.type, p.names);
            p.valueBits = r.bits;
            p.validity = r.validity;
        }
    }
}

int LuaCalcTie::calulate()
{
    GATE_DEBUG(3, "LuaCalcTie::calulate(): was called");
    if (m_bindingsStale)
        rebuildBindings();
    m_dirty.resize(0);
    QDateTime now;
    const bool all = m_publishing && std::any_of(m_inputs.cbegin(), m_inputs.cend(), [](const UnitBinding &b) {
        return b.unit->isDirty();
    });
    for (UnitBinding &binding : m_inputs) {
        BaseTieUnit *unit = binding.unit;
        if (!unit->isDirty() && !all)
            continue;
        if (m_dirty.isEmpty())
            now = Clock::nowUtc();
        m_dirty.append(&binding);
        unit->setLastConverted(now);
        unit->setDirty(false);
        ++counters().unitsSent;
    }
    if (m_dirty.isEmpty()) {
        // Nothing changed: what the last clean call computed still holds.
        // Results that went stale meanwhile (a cycle came late) had their
        // consumers invalidated in this tick's first pass: they get the
        // values again.
        if (m_state && !m_lastCallFailed) {
            for (UnitBinding &binding : m_results) {
                if (!binding.unit->lastReceived().isValid())
                    continue;
                const bool lapsed = binding.unit->state() != BaseTieUnit::stOK;
                binding.unit->setLastReceived(Clock::nowUtc());
                if (lapsed)
                    binding.unit->convertFromThis();
            }
        }
        endQuietFault();
        return 0;
    }
    if (!m_state)
        return 1;

    QString error;
    bool aborted = false;
    if (!runProtected(&LuaCalcTie::exchangeBody, error, aborted)) {
        reportFailure(error, aborted);
        return 1;
    }

    for (const UnitBinding *unit : qAsConst(m_dirty)) {
        for (const ParamBinding &p : unit->params) {
            if (isValuedType(p.type))
                ++counters().valuesSent;
        }
    }
    for (UnitBinding &binding : m_results) {
        for (const ParamBinding &p : qAsConst(binding.params)) {
            uchar *values = p.param->valuesForWrite();
            if (!isValuedType(p.type) || !values || p.param->size() < 8)
                continue;
            std::memcpy(values, &p.valueBits, sizeof p.valueBits);
            std::memcpy(values + 4, &p.validity, sizeof p.validity);
            ++counters().valuesReceived;
        }
        binding.unit->setLastReceived(now);
        ++counters().unitsReceived;
        binding.unit->convertFromThis();
    }
    m_lastCallFailed = false;
    endQuietFault();
    return 1;
}

void LuaCalcTie::endQuietFault()
{
    if (!m_lastCallFailed && m_fault.quietFor(RepeatedMessage::DefaultQuietMs))
        m_fault.clear(QStringLiteral("LuaCalcTie::calulate(): Lua calculation \"%1\" runs cleanly again").arg(label()),
                      QCoreApplication::translate("LuaCalcTie", "Lua calculation \"%1\" runs cleanly again").arg(label()));
}

void LuaCalcTie::reportFailure(const QString &error, bool aborted)
{
    m_lastCallFailed = true;
    if (aborted)
        ++counters().scriptAborts;
    else
        ++counters().scriptErrors;
    // Every failed or aborted call of the loaded script is one streak,
    // wherever it failed: a fault that moves between positions (or between
    // an error and an abort) with the data is counted in the summary of the
    // streak's first lines instead of being written every tick.
    const char *logText = aborted ? QT_TRANSLATE_NOOP("LuaCalcTie", "Lua calculation \"%1\" aborted: %2")
                                  : QT_TRANSLATE_NOOP("LuaCalcTie", "Lua calculation \"%1\" failed: %2");
    m_fault.report(QStringLiteral("LuaCalcTie::calulate(): Lua calculation \"%1\" %2: %3")
                       .arg(label(), aborted ? QStringLiteral("aborted") : QStringLiteral("failed"), error),
                   QCoreApplication::translate("LuaCalcTie", logText).arg(label(), error),
                   QStringLiteral("call fault of load %1").arg(m_loads));
}

QString LuaCalcTie::label() const
{
    return id().isEmpty() ? QFileInfo(m_fileName).fileName() : id();
}
