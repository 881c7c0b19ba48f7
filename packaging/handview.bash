# bash completion for handview and handview-camera: their options, the options' values, and model
# files by the extensions Assimp 5.2 imports. Installed under both names; either defines both.

_handview() {
    local cur prev words cword split
    _init_completion -s || return
    if [[ $prev == --windowed ]] && $split; then
        COMPREPLY=($(compgen -W '1280x720 1920x1080 800x600' -- "$cur"))
    elif [[ $prev == --up ]]; then
        COMPREPLY=($(compgen -W '+y +z' -- "$cur"))
    elif [[ $prev == --hud ]] && $split; then
        COMPREPLY=($(compgen -W 'on off' -- "$cur"))
    elif [[ $prev == --webcam ]] && $split; then
        local devices=(/dev/video*)
        [[ -e ${devices[0]} ]] && COMPREPLY=($(compgen -W "${devices[*]#/dev/video}" -- "$cur"))
        _filedir
    elif [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-h --help -V --version --windowed --windowed= --up --webcam --webcam= --hud --hud=' -- "$cur"))
        if [[ ${#COMPREPLY[@]} == 1 && $COMPREPLY == *= ]]; then compopt -o nospace; fi
    else
        _filedir '@(3d|3ds|3mf|ac|ac3d|acc|amf|ase|ask|assbin|b3d|blend|bsp|bvh|cob|csm|dae|dxf|enff|fbx|glb|gltf|hmp|ifc|ifczip|iqm|irr|irrmesh|lwo|lws|lxo|md2|md3|md5mesh|mdc|mdl|mesh|ms3d|ndo|nff|obj|off|ogex|pk3|ply|pmx|prj|q3o|q3s|raw|scn|sib|smd|step|stl|stp|ter|uc|vta|x|x3d|x3db|xgl|xml|zae|zgl)'
    fi
}
complete -F _handview handview

_handview_camera() {
    local cur prev words cword split
    _init_completion -s || return
    case $prev in
        --camera)
            local devices=(/dev/video*)
            [[ -e ${devices[0]} ]] && COMPREPLY=($(compgen -W "${devices[*]#/dev/video}" -- "$cur"))
            return ;;
        --video) _filedir; return ;;
        --landmarks) COMPREPLY=($(compgen -W 'lite full' -- "$cur")); return ;;
        --port) return ;;
    esac
    $split && return
    COMPREPLY=($(compgen -W '-h --help -V --version --camera --video --port --stdout --landmarks --preview
        --fixed-rest' -- "$cur"))
}
complete -F _handview_camera handview-camera
