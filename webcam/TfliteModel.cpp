// The file is verified by the FlatBuffers verifier before anything is read from it; after that every
// index, buffer size and shape it holds is checked here before XNNPACK sees it, because XNNPACK
// trusts the shapes it is given and would read or write past a buffer on a wrong one. Each operator
// has a visit function of its own; the checks they share come first.
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

// Limits of a file, a tensor and an operator: far above the hand models, far below what would
// exhaust memory or overflow a size.
constexpr size_t kMaxFileMegabytes = 256;
constexpr size_t kMaxTensors = 100000;
constexpr size_t kMaxRank = 4;
constexpr size_t kMaxSide = 1 << 16;      // of any one dimension
constexpr size_t kMaxElements = 1 << 26;  // of one tensor
constexpr size_t kMaxWindow = 64;         // a kernel's side, a stride, a dilation, a depth multiplier
constexpr size_t kExtraFloats = XNN_EXTRA_BYTES / sizeof(float);  // XNNPACK may read past an array's end
// Budgets of a whole graph, each tensor being bounded on its own: a file of a few kilobytes can still
// ask for gigabytes or for minutes a frame. The hand models need at most 4 MB alive, 331 million
// multiply-adds and 1.3 million pointers.
constexpr double kMaxLiveBytes = 64.0 * (1 << 20);  // the computed tensors alive at once
constexpr double kMaxMultiplyAdds = 2e9;            // one run, elementwise steps counted as one
constexpr double kMaxIndirection = 16e6;            // output pixels x kernel taps: XNNPACK's pointers

using Shape = TfliteModel::Shape;

// One failed check: its message becomes the load's one line.
struct Refused {
    std::string why;
};

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

// `what` (a size, a count) within its limit; the message names both.
void checkLimit(const std::string& what, int64_t value, size_t limit, int64_t least = 1) {
    if (value < least)
        throw Refused{what + " of " + std::to_string(value) + ", below " + std::to_string(least)};
    if (uint64_t(value) > limit)
        throw Refused{what + " of " + std::to_string(value) + ", over the limit of " + std::to_string(limit)};
}

struct Clamp {
    float min, max;
};

Clamp checkActivation(tflite::ActivationFunctionType a) {
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

// TensorFlow's padding of one spatial axis; `out` is the output's size along it.
struct AxisPadding {
    size_t out = 0, before = 0, after = 0;
};

AxisPadding padAxis(size_t in, size_t kernel, size_t stride, size_t dilation, tflite::Padding padding) {
    const size_t span = (kernel - 1) * dilation + 1;
    AxisPadding p;
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

// The window of a convolution or a pooling over an NHWC image, checked: rows run down the image
// (its height), columns across it (its width).
struct Window {
    size_t kernelHeight = 0, kernelWidth = 0, strideHeight = 0, strideWidth = 0, dilationHeight = 0,
           dilationWidth = 0;
    AxisPadding rows, columns;
    double pixels() const { return double(rows.out) * double(columns.out); }
    double taps() const { return double(kernelHeight) * double(kernelWidth); }
};

Window checkWindow(const Shape& image, int32_t kernelHeight, int32_t kernelWidth, int32_t strideHeight,
                   int32_t strideWidth, int32_t dilationHeight, int32_t dilationWidth,
                   tflite::Padding padding) {
    checkLimit("a kernel height", kernelHeight, kMaxWindow);
    checkLimit("a kernel width", kernelWidth, kMaxWindow);
    for (int32_t stride : {strideHeight, strideWidth}) checkLimit("a stride", stride, kMaxWindow);
    for (int32_t dilation : {dilationHeight, dilationWidth}) checkLimit("a dilation", dilation, kMaxWindow);
    Window w;
    w.kernelHeight = size_t(kernelHeight), w.kernelWidth = size_t(kernelWidth);
    w.strideHeight = size_t(strideHeight), w.strideWidth = size_t(strideWidth);
    w.dilationHeight = size_t(dilationHeight), w.dilationWidth = size_t(dilationWidth);
    w.rows = padAxis(image[1], w.kernelHeight, w.strideHeight, w.dilationHeight, padding);
    w.columns = padAxis(image[2], w.kernelWidth, w.strideWidth, w.dilationWidth, padding);
    return w;
}

// Builds the XNNPACK subgraph of one verified model, checking as it goes.
class Builder {
public:
    struct Slice {
        uint32_t id;
        size_t offset;  // in floats, into the output
    };

    Builder(const tflite::Model& model, xnn_subgraph_t graph, std::vector<std::vector<float>>& constants)
        : model_(model), graph_(graph), constants_(constants) {}

    void build(const Shape& input, const std::vector<Shape>& outputs);

    // Per model output: its value id, or the parts that XNNPACK writes into its slices.
    std::vector<uint32_t> outputIds;
    std::vector<std::vector<Slice>> slices;

private:
    static constexpr int kNone = -1;

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
    static tflite::BuiltinOperator code(const tflite::OperatorCode& c) {
        return std::max(tflite::BuiltinOperator(c.deprecated_builtin_code()), c.builtin_code());
    }

    void readTensors();
    void checkInterface(const Shape& input, const std::vector<Shape>& outputs);
    void visit(const tflite::Operator& op, tflite::BuiltinOperator code);

    // Checks shared by the visits.
    static void checkNumInputs(const tflite::Operator& op, size_t least, size_t most) {
        if (op.inputs()->size() < least || op.inputs()->size() > most)
            throw Refused{"a wrong number of inputs"};
    }
    template <typename Options>
    static const Options& checkOptions(const Options* o) {
        if (!o) throw Refused{"no options"};
        return *o;
    }
    const Shape& checkImage(int32_t t) const {
        if (shape(t).size() != 4 || shape(t)[0] != 1) throw Refused{"an input that is not one NHWC image"};
        return shape(t);
    }
    // A constant int32 parameter tensor's values.
    std::vector<int32_t> ints(int32_t t) const;

    // The value of tensor t as an XNNPACK input: computed before, or a float32 constant.
    uint32_t valueAs(int32_t t, const Shape& dims);
    // XNNPACK takes operators' data computed and their weights constant, nothing else.
    uint32_t computed(int32_t t);
    uint32_t weights(int32_t t, const Shape& dims);
    // The operator's input k as a bias of `channels`; XNNPACK's convolutions want one, a zero one is none.
    uint32_t bias(const tflite::Operator& op, size_t k, size_t channels);
    // Declares the output tensor t, which must have the shape the operator computes.
    uint32_t produce(int32_t t, const Shape& computed, const Shape* defineAs = nullptr);
    // XNNPACK writes the id it gives a value even when it is the one asked for.
    void define(const Shape& dims, const float* data, uint32_t id, uint32_t flags);
    void check(xnn_status s, const char* what) const {
        if (s != xnn_status_success) throw Refused{std::string("XNNPACK refused the ") + what};
    }
    // What an operator costs a run: its multiply-adds, and the pointers of its indirection buffer.
    void costs(double multiplyAdds, double indirection = 0) {
        multiplyAdds_ += multiplyAdds;
        indirection_ += indirection;
    }

    void visitDequantize(const tflite::Operator& op);
    void visitConv2d(const tflite::Operator& op);
    void visitDepthwiseConv2d(const tflite::Operator& op);
    void visitMaxPool2d(const tflite::Operator& op);
    void visitAdd(const tflite::Operator& op);
    void visitFullyConnected(const tflite::Operator& op);
    void visitLogistic(const tflite::Operator& op);
    void visitMean(const tflite::Operator& op);
    void visitPrelu(const tflite::Operator& op);
    void visitPad(const tflite::Operator& op);
    void visitReshape(const tflite::Operator& op);
    void visitResizeBilinear(const tflite::Operator& op);
    void planConcatenation(const tflite::Operator& op);
    void visitConcatenation(const tflite::Operator& op);

    // XNNPACK keeps a value nothing reads in no buffer, yet still runs the operator that writes it.
    void checkEveryValueRead() const;
    void checkBudgets() const;

    const tflite::Model& model_;
    xnn_subgraph_t graph_;
    std::vector<std::vector<float>>& constants_;
    int32_t input_ = 0;
    std::vector<Shape> shapes_;
    std::vector<bool> defined_, computed_, external_, assembled_;
    std::vector<const float*> constant_;
    // By operator index: who writes each computed tensor, and the last that reads it.
    std::vector<int> producer_, lastRead_;
    int op_ = 0;
    double multiplyAdds_ = 0, indirection_ = 0;
};

int32_t in(const tflite::Operator& op, size_t k) {
    return op.inputs()->Get(flatbuffers::uoffset_t(k));
}
int32_t out(const tflite::Operator& op) {
    return op.outputs()->Get(0);
}

const flatbuffers::Vector<uint8_t>* Builder::bytes(int32_t t) const {
    const uint32_t b = tensor(t).buffer();
    const auto* buffers = model_.buffers();
    if (!buffers || b >= buffers->size()) throw Refused{"a tensor's buffer index out of range"};
    const auto* data = buffers->Get(b)->data();
    return data && data->size() > 0 ? data : nullptr;
}

void Builder::readTensors() {
    const auto* tensors = subgraph().tensors();
    if (!tensors || tensors->size() == 0) throw Refused{"no tensors"};
    checkLimit("a tensor count", tensors->size(), kMaxTensors);
    shapes_.resize(tensors->size());
    for (flatbuffers::uoffset_t i = 0; i < tensors->size(); ++i) {
        const auto* dims = tensors->Get(i)->shape();
        if (!dims) throw Refused{"a tensor without a shape"};
        checkLimit("a tensor's rank", dims->size(), kMaxRank, 0);
        for (int32_t d : *dims) {
            checkLimit("a tensor dimension", d, kMaxSide);
            shapes_[i].push_back(size_t(d));
            checkLimit("a tensor's element count", int64_t(elements(shapes_[i])),
                       kMaxElements);  // before it can wrap
        }
    }
    for (auto* flags : {&defined_, &computed_, &external_, &assembled_}) flags->assign(shapes_.size(), false);
    constant_.assign(shapes_.size(), nullptr);
    producer_.assign(shapes_.size(), kNone);
    lastRead_.assign(shapes_.size(), kNone);
}

void Builder::checkInterface(const Shape& input, const std::vector<Shape>& outputs) {
    const auto* ins = subgraph().inputs();
    const auto* outs = subgraph().outputs();
    if (!subgraph().operators() || !model_.operator_codes() || !ins || !outs)
        throw Refused{"no operators, inputs or outputs"};
    if (ins->size() != 1 || shape(ins->Get(0)) != input ||
        tensor(ins->Get(0)).type() != tflite::TensorType_FLOAT32)
        throw Refused{"not the expected model (its input)"};
    input_ = ins->Get(0);
    if (outs->size() != outputs.size()) throw Refused{"not the expected model (its outputs)"};
    for (flatbuffers::uoffset_t k = 0; k < outs->size(); ++k) {
        if (shape(outs->Get(k)) != outputs[k])
            throw Refused{"not the expected model (output " + std::to_string(k) + ")"};
        // Two external values on one buffer: XNNPACK would take it as one, then abort.
        if (external_[size_t(outs->Get(k))]) throw Refused{"an output named twice"};
        external_[size_t(outs->Get(k))] = true;
    }
}

void Builder::build(const Shape& input, const std::vector<Shape>& outputs) {
    if (!model_.subgraphs() || model_.subgraphs()->size() == 0) throw Refused{"no graph"};
    readTensors();
    checkInterface(input, outputs);
    const auto* ops = subgraph().operators();
    const auto* codes = model_.operator_codes();
    for (const auto* op : *ops) {
        if (!op->inputs() || !op->outputs() || op->outputs()->size() != 1)
            throw Refused{"an operator without inputs or outputs"};
        if (op->opcode_index() >= codes->size()) throw Refused{"an operator code out of range"};
    }
    slices.assign(outputs.size(), {});
    for (const auto* op : *ops)
        if (code(*codes->Get(op->opcode_index())) == tflite::BuiltinOperator_CONCATENATION)
            planConcatenation(*op);

    define(input, nullptr, uint32_t(input_), XNN_VALUE_FLAG_EXTERNAL_INPUT);
    computed_[size_t(input_)] = defined_[size_t(input_)] = true;
    producer_[size_t(input_)] = 0;
    for (flatbuffers::uoffset_t n = 0; n < ops->size(); ++n) {
        op_ = int(n);
        const tflite::BuiltinOperator builtin = code(*codes->Get(ops->Get(n)->opcode_index()));
        try {
            visit(*ops->Get(n), builtin);
        } catch (const Refused& r) {
            const char* name = tflite::EnumNameBuiltinOperator(builtin);
            throw Refused{"operator " + std::to_string(n) + " (" + (*name ? name : "unknown") +
                          "): " + r.why};
        }
    }
    for (int32_t t : *subgraph().outputs()) {
        if (!assembled_[size_t(t)] && (!computed_[size_t(t)] || t == input_))
            throw Refused{"an output that nothing computes"};
        outputIds.push_back(uint32_t(t));
    }
    checkEveryValueRead();
    checkBudgets();
}

void Builder::visit(const tflite::Operator& op, tflite::BuiltinOperator code) {
    switch (code) {
        case tflite::BuiltinOperator_DEQUANTIZE:
            return visitDequantize(op);
        case tflite::BuiltinOperator_CONV_2D:
            return visitConv2d(op);
        case tflite::BuiltinOperator_DEPTHWISE_CONV_2D:
            return visitDepthwiseConv2d(op);
        case tflite::BuiltinOperator_MAX_POOL_2D:
            return visitMaxPool2d(op);
        case tflite::BuiltinOperator_ADD:
            return visitAdd(op);
        case tflite::BuiltinOperator_FULLY_CONNECTED:
            return visitFullyConnected(op);
        case tflite::BuiltinOperator_LOGISTIC:
            return visitLogistic(op);
        case tflite::BuiltinOperator_MEAN:
            return visitMean(op);
        case tflite::BuiltinOperator_PRELU:
            return visitPrelu(op);
        case tflite::BuiltinOperator_PAD:
            return visitPad(op);
        case tflite::BuiltinOperator_RESHAPE:
            return visitReshape(op);
        case tflite::BuiltinOperator_RESIZE_BILINEAR:
            return visitResizeBilinear(op);
        case tflite::BuiltinOperator_CONCATENATION:
            return visitConcatenation(op);
        default:
            throw Refused{"this runtime does not run it"};
    }
}

std::vector<int32_t> Builder::ints(int32_t t) const {
    const auto* data = bytes(t);
    if (!data || tensor(t).type() != tflite::TensorType_INT32 || data->size() != elements(shape(t)) * 4)
        throw Refused{"a parameter tensor that is not constant int32"};
    std::vector<int32_t> v(elements(shape(t)));
    std::memcpy(v.data(), data->data(), data->size());
    return v;
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

uint32_t Builder::computed(int32_t t) {
    const Shape& dims = shape(t);  // the index checked
    if (!computed_[size_t(t)]) throw Refused{"tensor " + std::to_string(t) + " read before it is computed"};
    lastRead_[size_t(t)] = op_;
    return valueAs(t, dims);
}

uint32_t Builder::weights(int32_t t, const Shape& dims) {
    shape(t);
    if (computed_[size_t(t)]) throw Refused{"weights that are computed"};
    return valueAs(t, dims);
}

uint32_t Builder::bias(const tflite::Operator& op, size_t k, size_t channels) {
    if (op.inputs()->size() > k && in(op, k) >= 0) {
        if (shape(in(op, k)) != Shape{channels}) throw Refused{"a bias that does not fit"};
        return weights(in(op, k), {channels});
    }
    constants_.emplace_back(channels + kExtraFloats, 0.0f);
    uint32_t id = 0;
    const Shape dims{channels};
    check(xnn_define_tensor_value(graph_, xnn_datatype_fp32, 1, dims.data(), constants_.back().data(),
                                  XNN_INVALID_VALUE_ID, 0, &id),
          "a bias");
    return id;
}

uint32_t Builder::produce(int32_t t, const Shape& computed, const Shape* defineAs) {
    const size_t i = size_t(t);
    if (shape(t) != computed)
        throw Refused{"an output of shape " + text(shape(t)) + " where the operator gives " + text(computed)};
    if (computed_[i] || constant_[i] || defined_[i] || bytes(t)) throw Refused{"a tensor written twice"};
    if (tensor(t).type() != tflite::TensorType_FLOAT32) throw Refused{"an output that is not float32"};
    define(defineAs ? *defineAs : computed, nullptr, uint32_t(i),
           external_[i] ? XNN_VALUE_FLAG_EXTERNAL_OUTPUT : 0);
    computed_[i] = defined_[i] = true;
    producer_[i] = op_;
    return uint32_t(i);
}

void Builder::define(const Shape& dims, const float* data, uint32_t id, uint32_t flags) {
    uint32_t given = 0;
    check(
        xnn_define_tensor_value(graph_, xnn_datatype_fp32, dims.size(), dims.data(), data, id, flags, &given),
        "a tensor");
}

// Float16 weights become float32 constants here, once: no XNNPACK operator.
void Builder::visitDequantize(const tflite::Operator& op) {
    checkNumInputs(op, 1, 1);
    const int32_t x = in(op, 0), y = out(op);
    const auto* data = bytes(x);
    if (!data || tensor(x).type() != tflite::TensorType_FLOAT16)
        throw Refused{"only float16 weights are dequantized"};
    if (data->size() != elements(shape(x)) * 2) throw Refused{"a weight buffer of the wrong size"};
    if (shape(y) != shape(x) || tensor(y).type() != tflite::TensorType_FLOAT32 || bytes(y) ||
        constant_[size_t(y)] || computed_[size_t(y)])
        throw Refused{"an output that does not fit"};
    constants_.emplace_back(elements(shape(y)) + kExtraFloats);
    for (size_t i = 0; i < elements(shape(y)); ++i) {
        uint16_t h;
        std::memcpy(&h, data->data() + 2 * i, 2);
        constants_.back()[i] = halfToFloat(h);
    }
    constant_[size_t(y)] = constants_.back().data();
}

void Builder::visitConv2d(const tflite::Operator& op) {
    checkNumInputs(op, 2, 3);
    const auto& o = checkOptions(op.builtin_options_as_Conv2DOptions());
    const Shape& x = checkImage(in(op, 0));
    const Shape& w = shape(in(op, 1));  // output channels, height, width, input channels
    if (w.size() != 4 || w[3] != x[3]) throw Refused{"a filter that does not fit"};
    const Window win = checkWindow(x, int32_t(w[1]), int32_t(w[2]), o.stride_h(), o.stride_w(),
                                   o.dilation_h_factor(), o.dilation_w_factor(), o.padding());
    const Clamp c = checkActivation(o.fused_activation_function());
    const uint32_t input = computed(in(op, 0)), filter = weights(in(op, 1), w), b = bias(op, 2, w[0]);
    costs(win.pixels() * win.taps() * double(w[0]) * double(x[3]), win.pixels() * win.taps());
    check(xnn_define_convolution_2d(
              graph_, /*input_padding_top=*/uint32_t(win.rows.before),
              /*input_padding_right=*/uint32_t(win.columns.after),
              /*input_padding_bottom=*/uint32_t(win.rows.after),
              /*input_padding_left=*/uint32_t(win.columns.before),
              /*kernel_height=*/uint32_t(win.kernelHeight), /*kernel_width=*/uint32_t(win.kernelWidth),
              /*subsampling_height=*/uint32_t(win.strideHeight),
              /*subsampling_width=*/uint32_t(win.strideWidth),
              /*dilation_height=*/uint32_t(win.dilationHeight),
              /*dilation_width=*/uint32_t(win.dilationWidth), /*groups=*/1,
              /*group_input_channels=*/x[3], /*group_output_channels=*/w[0], c.min, c.max, input, filter, b,
              produce(out(op), {1, win.rows.out, win.columns.out, w[0]}),
              /*flags=*/0),
          "a convolution");
}

void Builder::visitDepthwiseConv2d(const tflite::Operator& op) {
    checkNumInputs(op, 2, 3);
    const auto& o = checkOptions(op.builtin_options_as_DepthwiseConv2DOptions());
    const Shape& x = checkImage(in(op, 0));
    const Shape& w = shape(in(op, 1));  // 1, height, width, channels x multiplier
    checkLimit("a depth multiplier", o.depth_multiplier(), kMaxWindow);
    const size_t multiplier = size_t(o.depth_multiplier());
    if (w.size() != 4 || w[0] != 1 || w[3] != x[3] * multiplier) throw Refused{"a filter that does not fit"};
    const Window win = checkWindow(x, int32_t(w[1]), int32_t(w[2]), o.stride_h(), o.stride_w(),
                                   o.dilation_h_factor(), o.dilation_w_factor(), o.padding());
    const Clamp c = checkActivation(o.fused_activation_function());
    const uint32_t input = computed(in(op, 0)), filter = weights(in(op, 1), w), b = bias(op, 2, w[3]);
    costs(win.pixels() * win.taps() * double(w[3]), win.pixels() * win.taps());
    check(
        xnn_define_depthwise_convolution_2d(
            graph_, /*input_padding_top=*/uint32_t(win.rows.before),
            /*input_padding_right=*/uint32_t(win.columns.after),
            /*input_padding_bottom=*/uint32_t(win.rows.after),
            /*input_padding_left=*/uint32_t(win.columns.before), /*kernel_height=*/uint32_t(win.kernelHeight),
            /*kernel_width=*/uint32_t(win.kernelWidth), /*subsampling_height=*/uint32_t(win.strideHeight),
            /*subsampling_width=*/uint32_t(win.strideWidth), /*dilation_height=*/uint32_t(win.dilationHeight),
            /*dilation_width=*/uint32_t(win.dilationWidth), /*depth_multiplier=*/uint32_t(multiplier),
            /*input_channels=*/x[3], c.min, c.max, input, filter, b,
            produce(out(op), {1, win.rows.out, win.columns.out, w[3]}), /*flags=*/0),
        "a depthwise convolution");
}

void Builder::visitMaxPool2d(const tflite::Operator& op) {
    checkNumInputs(op, 1, 1);
    const auto& o = checkOptions(op.builtin_options_as_Pool2DOptions());
    const Shape& x = checkImage(in(op, 0));
    const Window win =
        checkWindow(x, o.filter_height(), o.filter_width(), o.stride_h(), o.stride_w(), 1, 1, o.padding());
    const Clamp c = checkActivation(o.fused_activation_function());
    // Padded taps must not count as zeros: TensorFlow's own padding rule does that.
    const uint32_t flags = o.padding() == tflite::Padding_SAME ? XNN_FLAG_TENSORFLOW_SAME_PADDING : 0;
    costs(win.pixels() * win.taps() * double(x[3]), win.pixels() * win.taps());
    check(xnn_define_max_pooling_2d(graph_, /*input_padding_top=*/0, /*input_padding_right=*/0,
                                    /*input_padding_bottom=*/0, /*input_padding_left=*/0,
                                    /*pooling_height=*/uint32_t(win.kernelHeight),
                                    /*pooling_width=*/uint32_t(win.kernelWidth),
                                    /*stride_height=*/uint32_t(win.strideHeight),
                                    /*stride_width=*/uint32_t(win.strideWidth), /*dilation_height=*/1,
                                    /*dilation_width=*/1, c.min, c.max, computed(in(op, 0)),
                                    produce(out(op), {1, win.rows.out, win.columns.out, x[3]}), flags),
          "a max pooling");
}

void Builder::visitAdd(const tflite::Operator& op) {
    checkNumInputs(op, 2, 2);
    const auto* o = op.builtin_options_as_AddOptions();
    Shape a = shape(in(op, 0)), b = shape(in(op, 1));
    const size_t rank = std::max(a.size(), b.size());
    a.insert(a.begin(), rank - a.size(), 1);
    b.insert(b.begin(), rank - b.size(), 1);
    Shape sum(rank);
    for (size_t d = 0; d < rank; ++d) {
        if (a[d] != b[d] && a[d] != 1 && b[d] != 1) throw Refused{"inputs that do not broadcast"};
        sum[d] = std::max(a[d], b[d]);
    }
    const Clamp c = checkActivation(o ? o->fused_activation_function() : tflite::ActivationFunctionType_NONE);
    const uint32_t x = computed(in(op, 0)), y = computed(in(op, 1));
    costs(double(elements(sum)));
    check(xnn_define_add2(graph_, c.min, c.max, x, y, produce(out(op), sum), /*flags=*/0), "an addition");
}

void Builder::visitFullyConnected(const tflite::Operator& op) {
    checkNumInputs(op, 2, 3);
    const auto* o = op.builtin_options_as_FullyConnectedOptions();
    const Shape& x = shape(in(op, 0));
    const Shape& w = shape(in(op, 1));  // outputs, inputs
    if (w.size() != 2 || elements(x) % w[1] != 0) throw Refused{"weights that do not fit"};
    if (o &&
        (o->keep_num_dims() || o->weights_format() != tflite::FullyConnectedOptionsWeightsFormat_DEFAULT))
        throw Refused{"options this runtime does not take"};
    const Clamp c = checkActivation(o ? o->fused_activation_function() : tflite::ActivationFunctionType_NONE);
    const uint32_t input = computed(in(op, 0)), filter = weights(in(op, 1), w), b = bias(op, 2, w[0]);
    costs(double(elements(x)) * double(w[0]));
    check(xnn_define_fully_connected(graph_, c.min, c.max, input, filter, b,
                                     produce(out(op), {elements(x) / w[1], w[0]}),
                                     XNN_FLAG_TENSORFLOW_RESHAPE_2D),
          "a fully connected layer");
}

void Builder::visitLogistic(const tflite::Operator& op) {
    checkNumInputs(op, 1, 1);
    const uint32_t x = computed(in(op, 0));
    costs(double(elements(shape(in(op, 0)))));
    check(xnn_define_sigmoid(graph_, x, produce(out(op), shape(in(op, 0))), /*flags=*/0), "a logistic");
}

void Builder::visitMean(const tflite::Operator& op) {
    checkNumInputs(op, 2, 2);
    const Shape& x = checkImage(in(op, 0));
    std::vector<int32_t> axes = ints(in(op, 1));
    std::sort(axes.begin(), axes.end());
    if (axes != std::vector<int32_t>{1, 2}) throw Refused{"a mean over other axes than the image's"};
    const auto* o = op.builtin_options_as_ReducerOptions();
    const Shape pooled{1, 1, 1, x[3]};
    const Shape declared = o && o->keep_dims() ? pooled : Shape{1, x[3]};
    const uint32_t input = computed(in(op, 0));
    costs(double(elements(x)));
    constexpr float inf = std::numeric_limits<float>::infinity();
    check(xnn_define_global_average_pooling_2d(graph_, -inf, inf, input, produce(out(op), declared, &pooled),
                                               /*flags=*/0),
          "a mean");
}

void Builder::visitPrelu(const tflite::Operator& op) {
    checkNumInputs(op, 2, 2);
    const Shape& x = checkImage(in(op, 0));
    // The files store the slope as [1, 1, C]; XNNPACK wants [C].
    const Shape& slope = shape(in(op, 1));
    if (elements(slope) != x[3] || slope.back() != x[3]) throw Refused{"a slope that does not fit"};
    const uint32_t input = computed(in(op, 0)), s = weights(in(op, 1), {x[3]});
    costs(double(elements(x)));
    check(xnn_define_prelu(graph_, input, s, produce(out(op), x), /*flags=*/0), "a PReLU");
}

void Builder::visitPad(const tflite::Operator& op) {
    checkNumInputs(op, 2, 2);
    const Shape& x = shape(in(op, 0));
    const std::vector<int32_t> p = ints(in(op, 1));
    if (p.size() != 2 * x.size()) throw Refused{"paddings that do not fit"};
    Shape before(x.size()), after(x.size()), padded(x.size());
    for (size_t d = 0; d < x.size(); ++d) {
        if (p[2 * d] < 0 || p[2 * d + 1] < 0) throw Refused{"a negative padding"};
        checkLimit("a padding", std::max(p[2 * d], p[2 * d + 1]), kMaxSide, 0);
        before[d] = size_t(p[2 * d]), after[d] = size_t(p[2 * d + 1]);
        padded[d] = x[d] + before[d] + after[d];
    }
    const uint32_t input = computed(in(op, 0));
    costs(double(elements(padded)));
    check(xnn_define_static_constant_pad(graph_, before.data(), after.data(), /*padding_value=*/0, input,
                                         produce(out(op), padded), /*flags=*/0),
          "a padding");
}

void Builder::visitReshape(const tflite::Operator& op) {
    checkNumInputs(op, 1, 2);
    const Shape& y = shape(out(op));
    if (elements(y) != elements(shape(in(op, 0)))) throw Refused{"a reshape to another size"};
    const uint32_t input = computed(in(op, 0));
    costs(double(elements(y)));
    check(xnn_define_static_reshape(graph_, y.size(), y.data(), input, produce(out(op), y), /*flags=*/0),
          "a reshape");
}

void Builder::visitResizeBilinear(const tflite::Operator& op) {
    checkNumInputs(op, 2, 2);
    const auto* o = op.builtin_options_as_ResizeBilinearOptions();
    const Shape& x = checkImage(in(op, 0));
    const std::vector<int32_t> size = ints(in(op, 1));
    if (size.size() != 2) throw Refused{"a size that is not a height and a width"};
    checkLimit("a resized height", size[0], kMaxSide);
    checkLimit("a resized width", size[1], kMaxSide);
    const size_t height = size_t(size[0]), width = size_t(size[1]);
    const bool corners = o && o->align_corners(), halfPixel = o && o->half_pixel_centers();
    if (corners && halfPixel) throw Refused{"both corner alignment and half-pixel centres"};
    // XNNPACK's default is half-pixel centres; TensorFlow's older rule has neither.
    const uint32_t flags = corners ? XNN_FLAG_ALIGN_CORNERS : halfPixel ? 0 : XNN_FLAG_TENSORFLOW_LEGACY_MODE;
    const uint32_t input = computed(in(op, 0));
    // Four source pixels blended into each output pixel, through four pointers.
    const double pixels = double(height) * double(width);
    costs(4 * pixels * double(x[3]), 4 * pixels);
    check(xnn_define_static_resize_bilinear_2d(graph_, /*new_height=*/height, /*new_width=*/width, input,
                                               produce(out(op), {1, height, width, x[3]}), flags),
          "a bilinear resize");
}

// XNNPACK's snapshot has no concatenation: each part of one that makes a model output is written by
// its own operator straight into its slice of that output. So it is planned before any operator is
// visited, each part being declared an external output when it is produced, and visited in its turn
// only to see its parts computed by then.
void Builder::planConcatenation(const tflite::Operator& op) {
    const int32_t whole = out(op);
    const auto* outs = subgraph().outputs();
    const auto k = std::find(outs->begin(), outs->end(), whole) - outs->begin();
    if (k == outs->end() - outs->begin()) throw Refused{"a concatenation that is not a model output"};
    const auto* o = op.builtin_options_as_ConcatenationOptions();
    if (!o || o->fused_activation_function() != tflite::ActivationFunctionType_NONE)
        throw Refused{"a concatenation with an activation"};
    const Shape& all = shape(whole);
    const int rank = int(all.size());
    const int axis = o->axis() < 0 ? o->axis() + rank : o->axis();
    if (axis < 0 || axis >= rank) throw Refused{"a concatenation axis out of range"};
    // Slices are contiguous only when nothing lies outside the axis.
    for (int d = 0; d < axis; ++d)
        if (all[size_t(d)] != 1) throw Refused{"a concatenation this runtime cannot assemble"};
    size_t along = 0, offset = 0;
    for (int32_t part : *op.inputs()) {
        Shape s = shape(part);
        if (s.size() != all.size() || external_[size_t(part)] || part == input_)
            throw Refused{"a concatenation's inputs do not fit"};
        along += s[size_t(axis)];
        s[size_t(axis)] = all[size_t(axis)];
        if (s != all) throw Refused{"a concatenation's inputs do not fit"};
        external_[size_t(part)] = true;
        slices[size_t(k)].push_back({uint32_t(part), offset});
        offset += elements(shape(part));
    }
    if (along != all[size_t(axis)]) throw Refused{"a concatenation's inputs do not fit"};
    assembled_[size_t(whole)] = true;
}

void Builder::visitConcatenation(const tflite::Operator& op) {
    for (int32_t part : *op.inputs()) {
        if (!computed_[size_t(part)]) throw Refused{"a concatenation of values not computed"};
        lastRead_[size_t(part)] = op_;
    }
    if (computed_[size_t(out(op))] || bytes(out(op))) throw Refused{"a tensor written twice"};
    computed_[size_t(out(op))] = true;  // its parts wrote it
}

void Builder::checkEveryValueRead() const {
    for (size_t t = 0; t < shapes_.size(); ++t)
        if (producer_[t] != kNone && lastRead_[t] == kNone && !external_[t])
            throw Refused{int32_t(t) == input_
                              ? "an input that nothing reads"
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

std::once_flag initialised;
xnn_status initialisation = xnn_status_uninitialized;

// The whole file, or why not.
std::string readFile(const std::string& path, std::vector<uint8_t>& file) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (uint64_t(st.st_size) > (uint64_t(kMaxFileMegabytes) << 20))
        return "a file of " + std::to_string(st.st_size >> 20) + " MB, over the limit of " +
               std::to_string(kMaxFileMegabytes) + " MB for a hand model";
    file.resize(size_t(st.st_size));
    std::ifstream in(path, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(file.data()), std::streamsize(file.size()))) return "cannot read it";
    return "";
}

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
    std::vector<uint8_t> file;
    if (const std::string why = readFile(path, file); !why.empty()) return refused + why;
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
    Builder builder(model, graph, constants_);
    std::string error;
    try {
        builder.build(input, outputs);
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
    // The graph's input id is the file's index of the input tensor.
    std::vector<xnn_external_value> externals{
        {uint32_t(model.subgraphs()->Get(0)->inputs()->Get(0)), input_.data()}};
    for (size_t k = 0; k < outputs.size(); ++k) {
        outputs_.emplace_back(elements(outputs[k]) + kExtraFloats);
        if (builder.slices[k].empty()) externals.push_back({builder.outputIds[k], outputs_.back().data()});
        for (const auto& [id, offset] : builder.slices[k])
            externals.push_back({id, outputs_.back().data() + offset});
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
