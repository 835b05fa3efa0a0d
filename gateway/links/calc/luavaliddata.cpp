#include "links/calc/luavaliddata.h"

#include "core/diag.h"

#include <lua.hpp>

#include <QDateTime>
#include <QFileInfo>
#include <QString>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

static_assert(sizeof(IntValidUserData) == 16, "an intvalid block is 16 bytes");
static_assert(sizeof(FloatValidUserData) == 16, "a floatvalid block is 16 bytes");

namespace {

thread_local const LuaValidTypes *t_types = nullptr;

const char kIntRegistryName[] = "LuaBook.intvalid";
const char kFloatRegistryName[] = "LuaBook.floatvalid";
const char kIntExpected[] = "`intvalid' expected";
const char kFloatExpected[] = "`floatvalid' expected";

// `number` as a float; infinite beyond the float range (where a plain
// conversion is undefined).
float narrowToFloat(double number)
{
    if (number > static_cast<double>(std::numeric_limits<float>::max()))
        return std::numeric_limits<float>::infinity();
    if (number < -static_cast<double>(std::numeric_limits<float>::max()))
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(number);
}

bool fitsSDWord(qint64 v)
{
    return v >= std::numeric_limits<qint32>::min() && v <= std::numeric_limits<qint32>::max();
}

// True when `block` begins with the word every block built as `Block`
// begins with: its vtable pointer. Metatable and size do not prove a block
// ours: debug.setmetatable gives our metatable to any userdata, and a file
// handle is as big as our blocks. Its first word is no vtable of ours, so
// it is never called through.
template<typename Block>
bool builtAs(const void *block)
{
    static_assert(std::is_polymorphic<Block>::value, "the first word of a block is its vtable pointer");
    static const Block reference(0, 0);
    return std::memcmp(block, static_cast<const void *>(&reference), sizeof(void *)) == 0;
}

// ---- construction -------------------------------------------------------

template<typename Block, typename Value>
void pushBlock(lua_State *L, int metaRef, Value value, qint32 validity)
{
    void *memory = lua_newuserdata(L, sizeof(Block));
    new (memory) Block(value, validity);
    lua_rawgeti(L, LUA_REGISTRYINDEX, metaRef);
    if (!lua_istable(L, -1))
        luaL_error(L, "the metatable of the valued types was removed from the registry");
    lua_setmetatable(L, -2);
}

// new(): value 0, validity 0; new(x): validity 1; new(x, v).
template<int Kind>
int newValue(lua_State *L)
{
    const LuaValidTypes *types = LuaValidScope::current();
    if (!types)
        return luaL_error(L, "valued types used outside a calculation");
    const int args = lua_gettop(L);
    const double number = args >= 1 ? luaL_checknumber(L, 1) : 0.0;
    qint32 validity = args >= 2 ? luaNumberToValidity(luaL_checknumber(L, 2)) : (args >= 1 ? 1 : 0);
    if (Kind == BaseLuaUserData::kindInt) {
        qint32 value = 0;
        if (!luaNumberToSDWord(number, value))
            validity = 0;
        luaValidPushInt(L, *types, value, validity);
    } else {
        float value = 0.0f;
        if (!luaNumberToFloat(number, value))
            validity = 0;
        luaValidPushFloat(L, *types, value, validity);
    }
    return 1;
}

// ---- methods ------------------------------------------------------------

// The `self` of a method of the type `Kind`; raises the argument error for
// anything else.
template<int Kind>
BaseLuaUserData *checkSelf(lua_State *L)
{
    const LuaValidTypes *types = LuaValidScope::current();
    BaseLuaUserData *self = types ? luaValidAt(L, 1, *types) : nullptr;
    if (!self || self->kind() != Kind)
        luaL_argerror(L, 1, Kind == BaseLuaUserData::kindInt ? kIntExpected : kFloatExpected);
    return self;
}

template<int Kind>
int isValidMethod(lua_State *L)
{
    lua_pushboolean(L, checkSelf<Kind>(L)->isValid());
    return 1;
}

template<int Kind>
int valueMethod(lua_State *L)
{
    lua_pushnumber(L, checkSelf<Kind>(L)->number());
    return 1;
}

template<int Kind>
int validityMethod(lua_State *L)
{
    lua_pushnumber(L, checkSelf<Kind>(L)->validity());
    return 1;
}

template<int Kind>
int toStringMethod(lua_State *L)
{
    BaseLuaUserData *self = checkSelf<Kind>(L);
    if (Kind == BaseLuaUserData::kindInt)
        lua_pushfstring(L, "intvalid(%d, %d)", static_cast<IntValidUserData *>(self)->value(), self->validity());
    else
        lua_pushfstring(L, "floatvalid(%f, %d)", self->number(), self->validity());
    return 1;
}

// ---- arithmetic ---------------------------------------------------------

enum Op { opAdd, opSub, opMul, opDiv };
const char *const kOpNames[] = {"_add", "_sub", "_mul", "_div"};

// One operand of an arithmetic metamethod.
struct Operand {
    enum Class { Unsupported, Number, Int, Float };
    Class cls = Unsupported;
    bool valid = false;
    double number = 0.0; // Number
    qint32 i = 0;        // Int
    float f = 0.0f;      // Float
};

Operand operandAt(lua_State *L, int idx, const LuaValidTypes *types)
{
    Operand o;
    const int type = lua_type(L, idx);
    if (type == LUA_TNUMBER) {
        o.cls = Operand::Number;
        o.valid = true;
        o.number = lua_tonumber(L, idx);
    } else if (type == LUA_TUSERDATA && types) {
        if (BaseLuaUserData *d = luaValidAt(L, idx, *types)) {
            o.valid = d->isValid();
            if (d->kind() == BaseLuaUserData::kindInt) {
                o.cls = Operand::Int;
                o.i = static_cast<IntValidUserData *>(d)->value();
            } else {
                o.cls = Operand::Float;
                o.f = static_cast<FloatValidUserData *>(d)->value();
            }
        }
    }
    return o;
}

// The operand as a 64-bit integer for integer arithmetic. False with
// `fractional` left false when the operation has no result (a number that is
// not finite or leaves 32 bits); `fractional` set when a number has a
// fractional part, so the float rule applies.
bool integerOperand(const Operand &o, qint64 &out, bool &fractional)
{
    if (o.cls == Operand::Int) {
        out = o.i;
        return true;
    }
    if (!std::isfinite(o.number))
        return false;
    if (std::trunc(o.number) != o.number) {
        fractional = true;
        return true;
    }
    qint32 v = 0;
    if (!luaNumberToSDWord(o.number, v))
        return false;
    out = v;
    return true;
}

float floatOperand(const Operand &o)
{
    switch (o.cls) {
    case Operand::Int:
        return static_cast<float>(o.i);
    case Operand::Float:
        return o.f;
    default:
        return narrowToFloat(o.number);
    }
}

void reportDivisionByZero()
{
    GATE_DEBUG(3, "BaseLuaUserData::_div(): Try to divide dy 0");
}

// Returns the number of results (0: the expression yields nil).
int arithmetic(lua_State *L, Op op)
{
    const LuaValidTypes *types = LuaValidScope::current();
    const Operand a = operandAt(L, 1, types);
    const Operand b = operandAt(L, 2, types);
    if (a.cls == Operand::Unsupported || b.cls == Operand::Unsupported
        || (a.cls == Operand::Number && b.cls == Operand::Number)) {
        GATE_DEBUG(3, "BaseLuaUserData::%s(): Unsupported types of both args", kOpNames[op]);
        return 0;
    }
    if (!a.valid || !b.valid)
        return 0;

    if (a.cls != Operand::Float && b.cls != Operand::Float) {
        qint64 x = 0;
        qint64 y = 0;
        bool fractional = false;
        if (!integerOperand(a, x, fractional) || !integerOperand(b, y, fractional))
            return 0;
        if (!fractional) {
            // Computed in 64 bits: no 32-bit operation can overflow there,
            // INT_MIN / -1 included; a result outside 32 bits gives none.
            qint64 r = 0;
            switch (op) {
            case opAdd: r = x + y; break;
            case opSub: r = x - y; break;
            case opMul: r = x * y; break;
            case opDiv:
                if (y == 0) {
                    reportDivisionByZero();
                    return 0;
                }
                r = x / y; // truncates toward zero
                break;
            }
            if (!fitsSDWord(r))
                return 0;
            luaValidPushInt(L, *types, static_cast<qint32>(r), 1);
            return 1;
        }
    }

    const float x = floatOperand(a);
    const float y = floatOperand(b);
    float r = 0.0f;
    switch (op) {
    case opAdd: r = x + y; break;
    case opSub: r = x - y; break;
    case opMul: r = x * y; break;
    case opDiv:
        if (y == 0.0f) {
            reportDivisionByZero();
            return 0;
        }
        r = x / y;
        break;
    }
    luaValidPushFloat(L, *types, r, std::isfinite(r) ? 1 : 0);
    return 1;
}

int addMeta(lua_State *L) { return arithmetic(L, opAdd); }
int subMeta(lua_State *L) { return arithmetic(L, opSub); }
int mulMeta(lua_State *L) { return arithmetic(L, opMul); }
int divMeta(lua_State *L) { return arithmetic(L, opDiv); }

// A new value of the same type with the negated value and the same validity.
int unmMeta(lua_State *L)
{
    const LuaValidTypes *types = LuaValidScope::current();
    BaseLuaUserData *d = types ? luaValidAt(L, 1, *types) : nullptr;
    if (!d)
        return 0;
    if (d->kind() == BaseLuaUserData::kindInt) {
        const qint64 r = -static_cast<qint64>(static_cast<IntValidUserData *>(d)->value());
        if (!fitsSDWord(r))
            return 0;
        luaValidPushInt(L, *types, static_cast<qint32>(r), d->validity());
    } else {
        luaValidPushFloat(L, *types, -static_cast<FloatValidUserData *>(d)->value(), d->validity());
    }
    return 1;
}

// ---- fi -----------------------------------------------------------------

// fi.lastmodified(path): seconds since 1970 (UTC) of the file's last
// modification, or nil when the file has no valid time.
int fiLastModified(lua_State *L)
{
    const char *path = luaL_checkstring(L, 1);
    const QFileInfo info(QString::fromUtf8(path));
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    if (!modified.isValid()) {
        lua_pushnil(L);
        return 1;
    }
    lua_pushnumber(L, static_cast<lua_Number>(modified.toSecsSinceEpoch()));
    return 1;
}

// ---- registration -------------------------------------------------------

template<int Kind>
void openType(lua_State *L, const char *registryName, const char *libraryName, const void *&meta, int &ref)
{
    const luaL_Reg methods[] = {
        {"is_valid", &isValidMethod<Kind>},
        {"isvalid", &isValidMethod<Kind>},
        {"valid", &isValidMethod<Kind>},
        {"get_x", &valueMethod<Kind>},
        {"x", &valueMethod<Kind>},
        {"get_dx", &validityMethod<Kind>},
        {"dx", &validityMethod<Kind>},
        {"__add", &addMeta},
        {"__sub", &subMeta},
        {"__mul", &mulMeta},
        {"__div", &divMeta},
        {"__unm", &unmMeta},
        {"__tostring", &toStringMethod<Kind>},
        {nullptr, nullptr},
    };
    const luaL_Reg library[] = {
        {"new", &newValue<Kind>},
        {nullptr, nullptr},
    };
    luaL_newmetatable(L, registryName);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    luaL_register(L, nullptr, methods);
    meta = lua_topointer(L, -1);
    ref = luaL_ref(L, LUA_REGISTRYINDEX);
    luaL_register(L, libraryName, library);
    lua_pop(L, 1);
}

} // namespace

void luaValidOpenLibraries(lua_State *L, LuaValidTypes &types)
{
    openType<BaseLuaUserData::kindInt>(L, kIntRegistryName, "intvalid", types.intMeta, types.intRef);
    openType<BaseLuaUserData::kindFloat>(L, kFloatRegistryName, "floatvalid", types.floatMeta, types.floatRef);
    const luaL_Reg fi[] = {
        {"lastmodified", &fiLastModified},
        {nullptr, nullptr},
    };
    luaL_register(L, "fi", fi);
    lua_pop(L, 1);
}

BaseLuaUserData *luaValidAt(lua_State *L, int idx, const LuaValidTypes &types)
{
    if (lua_type(L, idx) != LUA_TUSERDATA || !lua_getmetatable(L, idx))
        return nullptr;
    const void *meta = lua_topointer(L, -1);
    lua_pop(L, 1);
    const size_t bytes = lua_objlen(L, idx);
    void *block = lua_touserdata(L, idx);
    if (meta == types.intMeta && bytes == sizeof(IntValidUserData) && builtAs<IntValidUserData>(block))
        return static_cast<IntValidUserData *>(block);
    if (meta == types.floatMeta && bytes == sizeof(FloatValidUserData) && builtAs<FloatValidUserData>(block))
        return static_cast<FloatValidUserData *>(block);
    return nullptr;
}

void luaValidPushInt(lua_State *L, const LuaValidTypes &types, qint32 value, qint32 validity)
{
    pushBlock<IntValidUserData>(L, types.intRef, value, validity);
}

void luaValidPushFloat(lua_State *L, const LuaValidTypes &types, float value, qint32 validity)
{
    pushBlock<FloatValidUserData>(L, types.floatRef, value, validity);
}

bool luaNumberToSDWord(double number, qint32 &out)
{
    if (!std::isfinite(number))
        return false;
    const double t = std::trunc(number);
    if (t < static_cast<double>(std::numeric_limits<qint32>::min())
        || t > static_cast<double>(std::numeric_limits<qint32>::max()))
        return false;
    out = static_cast<qint32>(t);
    return true;
}

bool luaNumberToFloat(double number, float &out)
{
    const float f = narrowToFloat(number);
    if (!std::isfinite(f))
        return false;
    out = f;
    return true;
}

qint32 luaNumberToValidity(double number)
{
    if (std::isnan(number))
        return 0;
    if (number >= static_cast<double>(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (number <= static_cast<double>(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return static_cast<qint32>(number);
}

LuaValidScope::LuaValidScope(const LuaValidTypes *types)
    : m_previous(t_types)
{
    t_types = types;
}

LuaValidScope::~LuaValidScope()
{
    t_types = m_previous;
}

const LuaValidTypes *LuaValidScope::current()
{
    return t_types;
}
