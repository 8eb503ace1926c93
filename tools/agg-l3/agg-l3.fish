# fish completion for agg-l3: what fits at the cursor is asked of the agg-l3
# being completed (agg-l3 __complete WORD...), so that commands, options,
# message types and list names match it and its compiled-in schema.
function __agg_l3_complete
    set -l words (commandline -opc) (commandline -ct)
    set -l lines ($words[1] __complete $words[2..-1] 2>/dev/null)
    if test "$lines" = :files
        __fish_complete_path (commandline -ct)
    else
        printf '%s\n' $lines
    end
end
complete -c agg-l3 -f -a '(__agg_l3_complete)'
