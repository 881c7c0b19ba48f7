// The file is verified by the FlatBuffers verifier before anything is read from it; after that every
// index, buffer size and shape it holds is checked here before XNNPACK sees it, because XNNPACK
// trusts the shapes it is given and would read or write past a buffer on a wrong one.
#include "webcam/TfliteModel.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <mutex>

#include <xnnpack.h>

#include "webcam/schema_generated.h"

namespace webcam {

namespace {

constexpr long kMaxFileBytes = 256L << 20;
constexpr size_t kMaxDim = 1 << 16;
constexpr size_t kMaxElements = 1 << 26;
constexpr size_t kMaxRank = 4;
constexpr size_t kExtraFloats = XNN_EXTRA_BYTES / sizeof(float);  // XNNPACK may read past an array's end
// Bounds on a whole graph, each tensor being bounded on its own: a file of a few kilobytes can still
// ask for gigabytes or for minutes a frame. The hand models need at most 4 MB alive, 331 million
// multiply-adds and 1.3 million pointers.
constexpr double kMaxLiveBytes = 64.0 * (1 << 20);    // the computed tensors alive at once
constexpr double kMaxMultiplyAdds = 2e9;              // one run, elementwise steps counted as one
constexpr double kMaxIndirection = 16e6;             // output pixels x kernel taps: XNNPACK's pointers

using Shape = TfliteModel::Shape;

size_t elements(const Shape& s) {
    size_t n = 1;
    for (size_t d : s) n *= d;
    return n;
}

std::string text(const Shape& s) {
    std::string t = "[";
    for (size_t i = 0; i < s.size(); ++i) t += (i ? "x" : "") + std::to_string(s[i]);
    return t + "]";
}

float halfToFloat(uint16_t h) {
    const int exponent = (h >> 10) & 0x1f, mantissa = h & 0x3ff;
    float v;
    if (exponent == 0)
        v = std::ldexp(float(mantissa), -24);
    else if (exponent == 31)
        v = mantissa ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
    else
        v = std::ldexp(float(mantissa | 0x400), exponent - 25);
    return (h & 0x8000) ? -v : v;
}

// One failed check: its message becomes the load's one line.
struct Refused {
    std::string why;
};

struct Clamp {
    float min, max;
};

Clamp clampOf(tflite::ActivationFunctionType a) {
    constexpr float inf = std::numeric_limits<float>::infinity();
    switch (a) {
        case tflite::ActivationFunctionType_NONE:
            return {-inf, inf};
        case tflite::ActivationFunctionType_RELU:
            return {0, inf};
        case tflite::ActivationFunctionType_RELU_N1_TO_1:
            return {-1, 1};
        case tflite::ActivationFunctionType_RELU6:
            return {0, 6};
        default:
            throw Refused{std::string("fused activation ") + tflite::EnumNameActivationFunctionType(a)};
    }
}

// TensorFlow's padding of one spatial axis; out is the output size.
struct Padding {
    size_t out = 0, before = 0, after = 0;
};

Padding pad(size_t in, size_t kernel, size_t stride, size_t dilation, tflite::Padding padding) {
    if (stride < 1 || stride > 64 || dilation < 1 || dilation > 64 || kernel < 1 || kernel > 64)
        throw Refused{"a stride, dilation or kernel size out of range"};
    const size_t span = (kernel - 1) * dilation + 1;
    Padding p;
    if (padding == tflite::Padding_SAME) {
        p.out = (in + stride - 1) / stride;
        const size_t needed = (p.out - 1) * stride + span;
        const size_t total = needed > in ? needed - in : 0;
        p.before = total / 2;
        p.after = total - p.before;
    } else {
        if (span > in) throw Refused{"a kernel larger than its input"};
        p.out = (in - span) / stride + 1;
    }
    return p;
}

// The padding of both spatial axes of a convolution of image x by filter w ([.., KH, KW, ..]).
template <typename Options>
std::pair<Padding, Padding> window(const Shape& x, const Shape& w, const Options& o) {
    return {pad(x[1], w[1], size_t(o.stride_h()), size_t(o.dilation_h_factor()), o.padding()),
            pad(x[2], w[2], size_t(o.stride_w()), size_t(o.dilation_w_factor()), o.padding())};
}

// Builds the XNNPACK subgraph of one verified model, checking as it goes.
class Builder {
public:
    Builder(const tflite::Model& model, xnn_subgraph_t graph, std::vector<std::vector<float>>& constants)
        : model_(model), graph_(graph), constants_(constants) {}

    // Fills `externals` with the input's and outputs' value ids; pointers are set by the caller.
    void build(const Shape& input, const std::vector<Shape>& outputs, std::vector<uint32_t>& externalOutputs,
               std::vector<std::vector<std::pair<uint32_t, size_t>>>& slices);

private:
    const tflite::SubGraph& subgraph() const { return *model_.subgraphs()->Get(0); }
    const tflite::Tensor& tensor(int32_t t) const {
        if (t < 0 || size_t(t) >= shapes_.size()) throw Refused{"a tensor index out of range"};
        return *subgraph().tensors()->Get(flatbuffers::uoffset_t(t));
    }
    const Shape& shape(int32_t t) const {
        tensor(t);
        return shapes_[size_t(t)];
    }
    const flatbuffers::Vector<uint8_t>* bytes(int32_t t) const;
    void readTensors();
    // The value of tensor t as an XNNPACK input: computed before, or a float32 constant.
    uint32_t valueAs(int32_t t, const Shape& dims);
    // XNNPACK takes operators' data computed and their weights constant, nothing else.
    uint32_t computed(int32_t t) {
        const Shape& dims = shape(t);  // the index checked
        if (!computed_[size_t(t)])
            throw Refused{"tensor " + std::to_string(t) + " read before it is computed"};
        lastRead_[size_t(t)] = op_;
        return valueAs(t, dims);
    }
    uint32_t weights(int32_t t, const Shape& dims) {
        shape(t);
        if (computed_[size_t(t)]) throw Refused{"weights that are computed"};
        return valueAs(t, dims);
    }
    std::vector<int32_t> ints(int32_t t) const;
    // Declares the output tensor t, which must have the shape the operator computes.
    uint32_t produce(int32_t t, const Shape& computed, const Shape* defineAs = nullptr);
    // XNNPACK writes the id it gives a value even when it is the one asked for.
    void define(const Shape& dims, const float* data, uint32_t id, uint32_t flags) {
        uint32_t given = 0;
        check(xnn_define_tensor_value(graph_, xnn_datatype_fp32, dims.size(), dims.data(), data, id, flags,
                                      &given),
              "a tensor");
    }
    void check(xnn_status s, const char* what) const {
        if (s != xnn_status_success) throw Refused{std::string("XNNPACK refused the ") + what};
    }
    void addOperator(const tflite::Operator& op, tflite::BuiltinOperator code);
    // What an operator costs a run: its multiply-adds, and the pointers of its indirection buffer.
    void costs(double multiplyAdds, double indirection = 0) {
        multiplyAdds_ += multiplyAdds;
        indirection_ += indirection;
    }
    // XNNPACK keeps a value nothing reads in no buffer, yet still runs the operator that writes it.
    void checkEveryValueRead(int32_t input) const;
    void checkBudgets() const;

    static constexpr int kNone = -1;

    const tflite::Model& model_;
    xnn_subgraph_t graph_;
    std::vector<std::vector<float>>& constants_;
    std::vector<Shape> shapes_;
    std::vector<bool> defined_, computed_, external_, assembled_;
    std::vector<const float*> constant_;
    // By operator index: who writes each computed tensor, and the last that reads it.
    std::vector<int> producer_, lastRead_;
    int op_ = 0;
    double multiplyAdds_ = 0, indirection_ = 0;
};

const flatbuffers::Vector<uint8_t>* Builder::bytes(int32_t t) const {
    const uint32_t b = tensor(t).buffer();
    const auto* buffers = model_.buffers();
    if (!buffers || b >= buffers->size()) throw Refused{"a tensor's buffer index out of range"};
    const auto* data = buffers->Get(b)->data();
    return data && data->size() > 0 ? data : nullptr;
}

void Builder::readTensors() {
    const auto* tensors = subgraph().tensors();
    if (!tensors || tensors->size() == 0 || tensors->size() > 100000) throw Refused{"no tensors"};
    shapes_.resize(tensors->size());
    for (flatbuffers::uoffset_t i = 0; i < tensors->size(); ++i) {
        const auto* dims = tensors->Get(i)->shape();
        if (!dims || dims->size() > kMaxRank) throw Refused{"a tensor of no or too many dimensions"};
        for (int32_t d : *dims) {
            if (d < 1 || size_t(d) > kMaxDim) throw Refused{"a tensor dimension out of range"};
            shapes_[i].push_back(size_t(d));
        }
        if (elements(shapes_[i]) > kMaxElements) throw Refused{"a tensor too large"};
    }
    defined_.assign(shapes_.size(), false);
    computed_.assign(shapes_.size(), false);
    external_.assign(shapes_.size(), false);
    assembled_.assign(shapes_.size(), false);
    constant_.assign(shapes_.size(), nullptr);
    producer_.assign(shapes_.size(), kNone);
    lastRead_.assign(shapes_.size(), kNone);
}

uint32_t Builder::valueAs(int32_t t, const Shape& dims) {
    const size_t i = size_t(t);
    if (elements(dims) != elements(shape(t))) throw Refused{"a value read in another size"};
    if (defined_[i]) return uint32_t(i);
    if (assembled_[i]) throw Refused{"a concatenation read by another operator"};
    if (!computed_[i] && !constant_[i]) {
        const auto* data = bytes(t);
        if (!data) throw Refused{"tensor " + std::to_string(t) + " read before it is computed"};
        if (tensor(t).type() != tflite::TensorType_FLOAT32) throw Refused{"a constant that is not float32"};
        if (data->size() != elements(shape(t)) * sizeof(float))
            throw Refused{"a constant's buffer of the wrong size"};
        constants_.emplace_back(elements(shape(t)) + kExtraFloats);
        std::memcpy(constants_.back().data(), data->data(), data->size());
        constant_[i] = constants_.back().data();
    }
    define(dims, constant_[i], uint32_t(i), 0);
    defined_[i] = true;
    return uint32_t(i);
}

std::vector<int32_t> Builder::ints(int32_t t) const {
    const auto* data = bytes(t);
    if (!data || tensor(t).type() != tflite::TensorType_INT32 || data->size() != elements(shape(t)) * 4)
        throw Refused{"a parameter tensor that is not constant int32"};
    std::vector<int32_t> v(elements(shape(t)));
    std::memcpy(v.data(), data->data(), data->size());
    return v;
}

uint32_t Builder::produce(int32_t t, const Shape& computed, const Shape* defineAs) {
    const size_t i = size_t(t);
    if (shape(t) != computed)
        throw Refused{"an output of shape " + text(shape(t)) + " where the operator gives " + text(computed)};
    if (computed_[i] || constant_[i] || defined_[i] || bytes(t)) throw Refused{"a tensor written twice"};
    if (tensor(t).type() != tflite::TensorType_FLOAT32) throw Refused{"an output that is not float32"};
    const Shape& dims = defineAs ? *defineAs : computed;
    define(dims, nullptr, uint32_t(i), external_[i] ? XNN_VALUE_FLAG_EXTERNAL_OUTPUT : 0);
    computed_[i] = defined_[i] = true;
    producer_[i] = op_;
    return uint32_t(i);
}

void Builder::build(const Shape& input, const std::vector<Shape>& outputs,
                    std::vector<uint32_t>& externalOutputs,
                    std::vector<std::vector<std::pair<uint32_t, size_t>>>& slices) {
    const auto* graphs = model_.subgraphs();
    if (!graphs || graphs->size() == 0) throw Refused{"no graph"};
    readTensors();
    const auto* ops = subgraph().operators();
    const auto* codes = model_.operator_codes();
    const auto* ins = subgraph().inputs();
    const auto* outs = subgraph().outputs();
    if (!ops || !codes || !ins || !outs) throw Refused{"no operators, inputs or outputs"};
    if (ins->size() != 1 || shape(ins->Get(0)) != input ||
        tensor(ins->Get(0)).type() != tflite::TensorType_FLOAT32)
        throw Refused{"not the expected model (its input)"};
    if (outs->size() != outputs.size()) throw Refused{"not the expected model (its outputs)"};
    for (flatbuffers::uoffset_t k = 0; k < outs->size(); ++k) {
        if (shape(outs->Get(k)) != outputs[k])
            throw Refused{"not the expected model (output " + std::to_string(k) + ")"};
        // Two external values on one buffer: XNNPACK would take it as one, then abort.
        if (external_[size_t(outs->Get(k))]) throw Refused{"an output named twice"};
        external_[size_t(outs->Get(k))] = true;
    }

    // No concatenation here: each input of a concatenation that makes a model output is written by
    // XNNPACK straight into its slice of that output.
    slices.assign(outs->size(), {});
    for (const auto* op : *ops) {
        if (!op->inputs() || !op->outputs() || op->outputs()->size() != 1)
            throw Refused{"an operator without inputs or outputs"};
        if (op->opcode_index() >= codes->size()) throw Refused{"an operator code out of range"};
        const auto* code = codes->Get(op->opcode_index());
        const auto builtin =
            std::max(tflite::BuiltinOperator(code->deprecated_builtin_code()), code->builtin_code());
        if (builtin != tflite::BuiltinOperator_CONCATENATION) continue;
        const int32_t out = op->outputs()->Get(0);
        const auto k = std::find(outs->begin(), outs->end(), out) - outs->begin();
        if (k == outs->end() - outs->begin()) throw Refused{"a concatenation that is not a model output"};
        const auto* o = op->builtin_options_as_ConcatenationOptions();
        if (!o || o->fused_activation_function() != tflite::ActivationFunctionType_NONE)
            throw Refused{"a concatenation with an activation"};
        const Shape& whole = shape(out);
        const int rank = int(whole.size());
        const int axis = o->axis() < 0 ? o->axis() + rank : o->axis();
        if (axis < 0 || axis >= rank) throw Refused{"a concatenation axis out of range"};
        // Slices are contiguous only when nothing lies outside the axis.
        for (int d = 0; d < axis; ++d)
            if (whole[size_t(d)] != 1) throw Refused{"a concatenation this runtime cannot assemble"};
        size_t along = 0, offset = 0;
        for (int32_t part : *op->inputs()) {
            Shape s = shape(part);
            if (s.size() != whole.size() || external_[size_t(part)] || part == ins->Get(0))
                throw Refused{"a concatenation's inputs do not fit"};
            along += s[size_t(axis)];
            s[size_t(axis)] = whole[size_t(axis)];
            if (s != whole) throw Refused{"a concatenation's inputs do not fit"};
            external_[size_t(part)] = true;
            slices[size_t(k)].emplace_back(uint32_t(part), offset);
            offset += elements(shape(part));
        }
        if (along != whole[size_t(axis)]) throw Refused{"a concatenation's inputs do not fit"};
        assembled_[size_t(out)] = true;
    }

    const int32_t in = ins->Get(0);
    define(input, nullptr, uint32_t(in), XNN_VALUE_FLAG_EXTERNAL_INPUT);
    computed_[size_t(in)] = defined_[size_t(in)] = true;
    producer_[size_t(in)] = 0;
    for (flatbuffers::uoffset_t n = 0; n < ops->size(); ++n) {
        op_ = int(n);
        const auto* op = ops->Get(n);
        const auto* code = codes->Get(op->opcode_index());
        const auto builtin =
            std::max(tflite::BuiltinOperator(code->deprecated_builtin_code()), code->builtin_code());
        try {
            addOperator(*op, builtin);
        } catch (const Refused& r) {
            const char* name = tflite::EnumNameBuiltinOperator(builtin);
            throw Refused{"operator " + std::to_string(n) + " (" + (*name ? name : "unknown") +
                          "): " + r.why};
        }
    }
    for (flatbuffers::uoffset_t k = 0; k < outs->size(); ++k) {
        const size_t t = size_t(outs->Get(k));
        if (!assembled_[t] && (!computed_[t] || int32_t(t) == in))
            throw Refused{"an output that nothing computes"};
        externalOutputs.push_back(uint32_t(t));
    }
    checkEveryValueRead(in);
    checkBudgets();
}

void Builder::checkEveryValueRead(int32_t input) const {
    for (size_t t = 0; t < shapes_.size(); ++t)
        if (producer_[t] != kNone && lastRead_[t] == kNone && !external_[t])
            throw Refused{int32_t(t) == input ? "an input that nothing reads"
                                              : "tensor " + std::to_string(t) + " is computed but never read"};
}

std::string megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MB", bytes / (1 << 20));
    return text;
}

std::string millions(double n) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f million", n / 1e6);
    return text;
}

void Builder::checkBudgets() const {
    // Bytes of the computed tensors alive after each operator: from the one that writes a tensor to
    // the last that reads it, or to the end for what the caller reads.
    const int end = int(subgraph().operators()->size());
    std::vector<double> change(size_t(end) + 1, 0.0);
    for (size_t t = 0; t < shapes_.size(); ++t) {
        if (producer_[t] == kNone) continue;
        const double bytes = double(elements(shapes_[t])) * sizeof(float);
        change[size_t(producer_[t])] += bytes;
        change[size_t(external_[t] ? end : std::max(lastRead_[t], producer_[t]) + 1)] -= bytes;
    }
    double alive = 0, mostAlive = 0;
    for (double c : change) mostAlive = std::max(mostAlive, alive += c);
    const auto over = [](const char* what, double need, double budget, std::string (*unit)(double)) {
        if (need > budget)
            throw Refused{std::string(what) + " need " + unit(need) + ", " + unit(need - budget) +
                          " over the budget of " + unit(budget)};
    };
    over("the tensors alive at once", mostAlive, kMaxLiveBytes, megabytes);
    over("a run's multiply-adds", multiplyAdds_, kMaxMultiplyAdds, millions);
    over("the convolutions' indirection pointers", indirection_, kMaxIndirection, millions);
}

void Builder::addOperator(const tflite::Operator& op, tflite::BuiltinOperator code) {
    const auto& in = *op.inputs();
    const int32_t out = op.outputs()->Get(0);
    const auto arity = [&](size_t lo, size_t hi) {
        if (in.size() < lo || in.size() > hi) throw Refused{"a wrong number of inputs"};
    };
    const auto image = [&](int32_t t) -> const Shape& {
        if (shape(t).size() != 4 || shape(t)[0] != 1) throw Refused{"an input that is not one NHWC image"};
        return shape(t);
    };
    const auto bias = [&](size_t k, size_t channels) {
        if (in.size() > k && in[k] >= 0) {
            if (shape(in[k]) != Shape{channels}) throw Refused{"a bias that does not fit"};
            return weights(in[k], {channels});
        }
        // XNNPACK's convolutions want a bias; a zero one is none.
        constants_.emplace_back(channels + kExtraFloats, 0.0f);
        uint32_t id = 0;
        const Shape dims{channels};
        check(xnn_define_tensor_value(graph_, xnn_datatype_fp32, 1, dims.data(), constants_.back().data(),
                                      XNN_INVALID_VALUE_ID, 0, &id),
              "a bias");
        return id;
    };

    switch (code) {
        case tflite::BuiltinOperator_DEQUANTIZE: {
            arity(1, 1);
            const auto* data = bytes(in[0]);
            if (!data || tensor(in[0]).type() != tflite::TensorType_FLOAT16)
                throw Refused{"only float16 weights are dequantized"};
            if (data->size() != elements(shape(in[0])) * 2)
                throw Refused{"a weight buffer of the wrong size"};
            if (shape(out) != shape(in[0]) || tensor(out).type() != tflite::TensorType_FLOAT32 ||
                bytes(out) || constant_[size_t(out)] || computed_[size_t(out)])
                throw Refused{"an output that does not fit"};
            constants_.emplace_back(elements(shape(out)) + kExtraFloats);
            for (size_t i = 0; i < elements(shape(out)); ++i) {
                uint16_t h;
                std::memcpy(&h, data->data() + 2 * i, 2);
                constants_.back()[i] = halfToFloat(h);
            }
            constant_[size_t(out)] = constants_.back().data();
            return;
        }
        case tflite::BuiltinOperator_CONV_2D: {
            arity(2, 3);
            const auto* o = op.builtin_options_as_Conv2DOptions();
            if (!o) throw Refused{"no options"};
            const Shape& x = image(in[0]);
            const Shape& w = shape(in[1]);
            if (w.size() != 4 || w[3] != x[3]) throw Refused{"a filter that does not fit"};
            const auto [h, v] = window(x, w, *o);
            const Clamp c = clampOf(o->fused_activation_function());
            const uint32_t input = computed(in[0]), filter = weights(in[1], w), b = bias(2, w[0]);
            const double pixels = double(h.out) * double(v.out), taps = double(w[1]) * double(w[2]);
            costs(pixels * taps * double(w[0]) * double(x[3]), pixels * taps);
            check(xnn_define_convolution_2d(
                      graph_, uint32_t(h.before), uint32_t(v.after), uint32_t(h.after), uint32_t(v.before),
                      uint32_t(w[1]), uint32_t(w[2]), uint32_t(o->stride_h()), uint32_t(o->stride_w()),
                      uint32_t(o->dilation_h_factor()), uint32_t(o->dilation_w_factor()), 1, x[3], w[0],
                      c.min, c.max, input, filter, b, produce(out, {1, h.out, v.out, w[0]}), 0),
                  "a convolution");
            return;
        }
        case tflite::BuiltinOperator_DEPTHWISE_CONV_2D: {
            arity(2, 3);
            const auto* o = op.builtin_options_as_DepthwiseConv2DOptions();
            if (!o) throw Refused{"no options"};
            const Shape& x = image(in[0]);
            const Shape& w = shape(in[1]);
            const int m = o->depth_multiplier();
            if (w.size() != 4 || w[0] != 1 || m < 1 || m > 64 || w[3] != x[3] * size_t(m))
                throw Refused{"a filter that does not fit"};
            const auto [h, v] = window(x, w, *o);
            const Clamp c = clampOf(o->fused_activation_function());
            const uint32_t input = computed(in[0]), filter = weights(in[1], w), b = bias(2, w[3]);
            const double pixels = double(h.out) * double(v.out), taps = double(w[1]) * double(w[2]);
            costs(pixels * taps * double(w[3]), pixels * taps);
            check(xnn_define_depthwise_convolution_2d(
                      graph_, uint32_t(h.before), uint32_t(v.after), uint32_t(h.after), uint32_t(v.before),
                      uint32_t(w[1]), uint32_t(w[2]), uint32_t(o->stride_h()), uint32_t(o->stride_w()),
                      uint32_t(o->dilation_h_factor()), uint32_t(o->dilation_w_factor()), uint32_t(m), x[3],
                      c.min, c.max, input, filter, b, produce(out, {1, h.out, v.out, w[3]}), 0),
                  "a depthwise convolution");
            return;
        }
        case tflite::BuiltinOperator_MAX_POOL_2D: {
            arity(1, 1);
            const auto* o = op.builtin_options_as_Pool2DOptions();
            if (!o) throw Refused{"no options"};
            const Shape& x = image(in[0]);
            const Padding h = pad(x[1], size_t(o->filter_height()), size_t(o->stride_h()), 1, o->padding());
            const Padding v = pad(x[2], size_t(o->filter_width()), size_t(o->stride_w()), 1, o->padding());
            const Clamp c = clampOf(o->fused_activation_function());
            // Padded taps must not count as zeros: TensorFlow's own padding rule does that.
            const uint32_t flags =
                o->padding() == tflite::Padding_SAME ? XNN_FLAG_TENSORFLOW_SAME_PADDING : 0;
            const double pixels = double(h.out) * double(v.out);
            const double taps = double(o->filter_height()) * double(o->filter_width());
            costs(pixels * taps * double(x[3]), pixels * taps);
            check(xnn_define_max_pooling_2d(graph_, 0, 0, 0, 0, uint32_t(o->filter_height()),
                                            uint32_t(o->filter_width()), uint32_t(o->stride_h()),
                                            uint32_t(o->stride_w()), 1, 1, c.min, c.max, computed(in[0]),
                                            produce(out, {1, h.out, v.out, x[3]}), flags),
                  "a max pooling");
            return;
        }
        case tflite::BuiltinOperator_ADD: {
            arity(2, 2);
            const auto* o = op.builtin_options_as_AddOptions();
            Shape a = shape(in[0]), b = shape(in[1]);
            const size_t rank = std::max(a.size(), b.size());
            a.insert(a.begin(), rank - a.size(), 1);
            b.insert(b.begin(), rank - b.size(), 1);
            Shape sum(rank);
            for (size_t d = 0; d < rank; ++d) {
                if (a[d] != b[d] && a[d] != 1 && b[d] != 1) throw Refused{"inputs that do not broadcast"};
                sum[d] = std::max(a[d], b[d]);
            }
            const Clamp c = clampOf(o ? o->fused_activation_function() : tflite::ActivationFunctionType_NONE);
            const uint32_t x = computed(in[0]), y = computed(in[1]);
            costs(double(elements(sum)));
            check(xnn_define_add2(graph_, c.min, c.max, x, y, produce(out, sum), 0), "an addition");
            return;
        }
        case tflite::BuiltinOperator_FULLY_CONNECTED: {
            arity(2, 3);
            const auto* o = op.builtin_options_as_FullyConnectedOptions();
            const Shape& w = shape(in[1]);
            const Shape& x = shape(in[0]);
            if (w.size() != 2 || elements(x) % w[1] != 0) throw Refused{"weights that do not fit"};
            if (o && (o->keep_num_dims() ||
                      o->weights_format() != tflite::FullyConnectedOptionsWeightsFormat_DEFAULT))
                throw Refused{"options this runtime does not take"};
            const Clamp c = clampOf(o ? o->fused_activation_function() : tflite::ActivationFunctionType_NONE);
            const uint32_t input = computed(in[0]), filter = weights(in[1], w), b = bias(2, w[0]);
            costs(double(elements(x)) * double(w[0]));
            check(xnn_define_fully_connected(graph_, c.min, c.max, input, filter, b,
                                             produce(out, {elements(x) / w[1], w[0]}),
                                             XNN_FLAG_TENSORFLOW_RESHAPE_2D),
                  "a fully connected layer");
            return;
        }
        case tflite::BuiltinOperator_LOGISTIC: {
            arity(1, 1);
            const uint32_t x = computed(in[0]);
            costs(double(elements(shape(in[0]))));
            check(xnn_define_sigmoid(graph_, x, produce(out, shape(in[0])), 0), "a logistic");
            return;
        }
        case tflite::BuiltinOperator_MEAN: {
            arity(2, 2);
            const Shape& x = image(in[0]);
            std::vector<int32_t> axes = ints(in[1]);
            std::sort(axes.begin(), axes.end());
            if (axes != std::vector<int32_t>{1, 2}) throw Refused{"a mean over other axes than the image's"};
            const auto* o = op.builtin_options_as_ReducerOptions();
            const Shape pooled{1, 1, 1, x[3]};
            const Shape declared = o && o->keep_dims() ? pooled : Shape{1, x[3]};
            const uint32_t input = computed(in[0]);
            costs(double(elements(x)));
            check(xnn_define_global_average_pooling_2d(graph_, -std::numeric_limits<float>::infinity(),
                                                       std::numeric_limits<float>::infinity(), input,
                                                       produce(out, declared, &pooled), 0),
                  "a mean");
            return;
        }
        case tflite::BuiltinOperator_PRELU: {
            arity(2, 2);
            const Shape& x = image(in[0]);
            // The files store the slope as [1, 1, C]; XNNPACK wants [C].
            const Shape& slope = shape(in[1]);
            if (elements(slope) != x[3] || slope.back() != x[3]) throw Refused{"a slope that does not fit"};
            const uint32_t input = computed(in[0]), s = weights(in[1], {x[3]});
            costs(double(elements(x)));
            check(xnn_define_prelu(graph_, input, s, produce(out, x), 0), "a PReLU");
            return;
        }
        case tflite::BuiltinOperator_PAD: {
            arity(2, 2);
            const Shape& x = shape(in[0]);
            const std::vector<int32_t> p = ints(in[1]);
            if (p.size() != 2 * x.size()) throw Refused{"paddings that do not fit"};
            Shape before(x.size()), after(x.size()), padded(x.size());
            for (size_t d = 0; d < x.size(); ++d) {
                if (p[2 * d] < 0 || p[2 * d + 1] < 0 || size_t(p[2 * d]) > kMaxDim ||
                    size_t(p[2 * d + 1]) > kMaxDim)
                    throw Refused{"a padding out of range"};
                before[d] = size_t(p[2 * d]), after[d] = size_t(p[2 * d + 1]);
                padded[d] = x[d] + before[d] + after[d];
            }
            const uint32_t input = computed(in[0]);
            costs(double(elements(padded)));
            check(xnn_define_static_constant_pad(graph_, before.data(), after.data(), 0, input,
                                                 produce(out, padded), 0),
                  "a padding");
            return;
        }
        case tflite::BuiltinOperator_RESHAPE: {
            arity(1, 2);
            const Shape& y = shape(out);
            if (elements(y) != elements(shape(in[0]))) throw Refused{"a reshape to another size"};
            const uint32_t input = computed(in[0]);
            costs(double(elements(y)));
            check(xnn_define_static_reshape(graph_, y.size(), y.data(), input, produce(out, y), 0),
                  "a reshape");
            return;
        }
        case tflite::BuiltinOperator_RESIZE_BILINEAR: {
            arity(2, 2);
            const auto* o = op.builtin_options_as_ResizeBilinearOptions();
            const Shape& x = image(in[0]);
            const std::vector<int32_t> size = ints(in[1]);
            if (size.size() != 2 || size[0] < 1 || size[1] < 1 || size_t(size[0]) > kMaxDim ||
                size_t(size[1]) > kMaxDim)
                throw Refused{"a size out of range"};
            const bool corners = o && o->align_corners(), halfPixel = o && o->half_pixel_centers();
            if (corners && halfPixel) throw Refused{"both corner alignment and half-pixel centres"};
            // XNNPACK's default is half-pixel centres; TensorFlow's older rule has neither.
            const uint32_t flags = corners     ? XNN_FLAG_ALIGN_CORNERS
                                   : halfPixel ? 0
                                               : XNN_FLAG_TENSORFLOW_LEGACY_MODE;
            const uint32_t input = computed(in[0]);
            // Four source pixels blended into each output pixel, through four pointers.
            const double pixels = double(size[0]) * double(size[1]);
            costs(4 * pixels * double(x[3]), 4 * pixels);
            check(xnn_define_static_resize_bilinear_2d(
                      graph_, size_t(size[0]), size_t(size[1]), input,
                      produce(out, {1, size_t(size[0]), size_t(size[1]), x[3]}), flags),
                  "a bilinear resize");
            return;
        }
        case tflite::BuiltinOperator_CONCATENATION:
            for (int32_t part : in) {
                if (!computed_[size_t(part)]) throw Refused{"a concatenation of values not computed"};
                lastRead_[size_t(part)] = op_;
            }
            if (computed_[size_t(out)] || bytes(out)) throw Refused{"a tensor written twice"};
            computed_[size_t(out)] = true;  // its inputs wrote it
            return;
        default:
            throw Refused{"this runtime does not run it"};
    }
}

std::once_flag initialised;
xnn_status initialisation = xnn_status_uninitialized;

}  // namespace

void TfliteModel::Deleter::operator()(xnn_runtime* runtime) const {
    xnn_delete_runtime(runtime);
}

TfliteModel::TfliteModel() = default;
TfliteModel::~TfliteModel() = default;

std::string TfliteModel::load(const std::string& path, const Shape& input,
                              const std::vector<Shape>& outputs) {
    runtime_.reset();
    constants_.clear();
    const std::string refused = path + ": ";
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return refused + std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return refused + "not a regular file";
    if (st.st_size > kMaxFileBytes) return refused + "too large for a hand model";
    std::vector<uint8_t> file(size_t(st.st_size));
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(file.data()), std::streamsize(file.size())))
        return refused + "cannot read it";
    flatbuffers::Verifier verifier(file.data(), file.size());
    if (!tflite::VerifyModelBuffer(verifier)) return refused + "not a TFLite model, or a damaged one";

    std::call_once(initialised, [] { initialisation = xnn_initialize(nullptr); });
    if (initialisation != xnn_status_success) return refused + "XNNPACK does not run on this processor";
    const tflite::Model& model = *tflite::GetModel(file.data());
    const auto* tensors =
        model.subgraphs() && model.subgraphs()->size() ? model.subgraphs()->Get(0)->tensors() : nullptr;
    xnn_subgraph_t graph = nullptr;
    if (!tensors || xnn_create_subgraph(tensors->size(), 0, &graph) != xnn_status_success)
        return refused + "no graph this runtime can build";
    std::vector<uint32_t> ids;
    std::vector<std::vector<std::pair<uint32_t, size_t>>> slices;
    std::string error;
    try {
        Builder(model, graph, constants_).build(input, outputs, ids, slices);
    } catch (const Refused& r) {
        error = refused + r.why;
    }
    xnn_runtime_t runtime = nullptr;
    // No thread pool: the one calling thread runs the whole graph.
    if (error.empty() && xnn_create_runtime_v2(graph, nullptr, 0, &runtime) != xnn_status_success)
        error = refused + "XNNPACK cannot build this graph";
    xnn_delete_subgraph(graph);
    if (!error.empty()) {
        constants_.clear();
        return error;
    }
    runtime_.reset(runtime);

    input_.assign(elements(input) + kExtraFloats, 0.0f);
    outputs_.clear();
    std::vector<xnn_external_value> externals{{0, input_.data()}};
    // The graph's input id is the file's index of the input tensor.
    externals[0].id = uint32_t(model.subgraphs()->Get(0)->inputs()->Get(0));
    for (size_t k = 0; k < outputs.size(); ++k) {
        outputs_.emplace_back(elements(outputs[k]) + kExtraFloats);
        if (slices[k].empty()) externals.push_back({ids[k], outputs_.back().data()});
        for (const auto& [id, offset] : slices[k]) externals.push_back({id, outputs_.back().data() + offset});
    }
    if (xnn_setup_runtime(runtime_.get(), externals.size(), externals.data()) != xnn_status_success) {
        runtime_.reset();
        constants_.clear();
        return refused + "XNNPACK cannot set up this graph";
    }
    return "";
}

bool TfliteModel::run() {
    return runtime_ && xnn_invoke_runtime(runtime_.get()) == xnn_status_success;
}

}  // namespace webcam
